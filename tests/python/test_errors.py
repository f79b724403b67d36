"""Exception classes, the conversion of core errors, and one row per argument converter."""

import collections.abc
import pathlib

import pytest

from conftest import snapshot
from torvex import (DAG, CycleError, DuplicateNodeError, EdgeNotFoundError, GraphError,
                    NodeNotFoundError, StaleNodeRefError, TorvexError)


@pytest.mark.parametrize("cls", [CycleError, NodeNotFoundError, DuplicateNodeError,
                                 EdgeNotFoundError, GraphError, StaleNodeRefError])
def test_exception_classes(cls):
    assert cls.__module__ == TorvexError.__module__ == "torvex"
    assert cls.__bases__ == (TorvexError,) and TorvexError.__bases__ == (Exception,)


@pytest.mark.parametrize("call, error, text", [
    (lambda d: d.add_node("a"), DuplicateNodeError, "a"),
    (lambda d: d.remove_edge("b", "a"), EdgeNotFoundError, "b -> a"),
    (lambda d: d.successors("zz"), NodeNotFoundError, "zz"),
    (lambda d: d.add_edge("b", "a"), CycleError, "Edge b -> a would create a cycle: a -> b"),
    (lambda d: d.nodes_matching_regex("("), GraphError,
     "Invalid regex pattern: unclosed group: `(`"),
    (lambda d: d.merge(d, "Keep_First"), ValueError,
     "Invalid conflict strategy: 'Keep_First'. Expected 'keep_first', 'keep_second', or 'error'."),
    (lambda d: d.subgraph_by_depth("zz", 1, "Forward"), ValueError,
     "Invalid direction: 'Forward'. Expected 'forward', 'backward', or 'both'."),
    (lambda d: d.collapse(["a"], "b"), DuplicateNodeError, "b"),
    (lambda d: d.collapse([], "a"), DuplicateNodeError, "a"),
    (lambda d: d["zz"], NodeNotFoundError, "zz"),
    (lambda d: d.__setitem__("zz", 1), NodeNotFoundError, "zz"),
    (lambda d: d.__delitem__("a"), NotImplementedError, "can't delete item"),
    (lambda d: d.build_reachability_index().reachable_from("zz"), NodeNotFoundError, "zz"),
    (lambda d: d.build_reachability_index().ancestors_of("zz"), NodeNotFoundError, "zz"),
    (lambda d: d.build_reachability_index().can_reach("a", "zz"), NodeNotFoundError, "zz"),
])
def test_core_errors_carry_bare_texts(call, error, text):
    dag = DAG()
    dag.add_nodes(["a", "b"])
    dag.add_edge("a", "b")
    with pytest.raises(error) as info:
        call(dag)
    assert type(info.value) is error and info.value.args == (text,)


class Unfit(TypeError):
    pass


class Refusing:
    """A number whose conversions raise a TypeError subclass."""

    def __float__(self):
        raise Unfit("no float")

    def __index__(self):
        raise Unfit("no index")


class Names(collections.abc.Sequence):
    def __init__(self, *items):
        self.items = items

    def __getitem__(self, i):
        return self.items[i]

    def __len__(self):
        return len(self.items)


# One row per converter and way of failing; every method shares these converters.
@pytest.mark.parametrize("call, error, message", [
    # the argument parser
    (lambda d: d.add_node(), TypeError,
     "DAG.add_node() missing 1 required positional argument: 'name'"),
    (lambda d: d.remove_edge(), TypeError,
     "DAG.remove_edge() missing 2 required positional arguments: 'from_node' and 'to_node'"),
    (lambda d: d.add_node("x", foo=1), TypeError,
     "DAG.add_node() got an unexpected keyword argument 'foo'"),
    (lambda d: d.add_node("x", name="x"), TypeError,
     "DAG.add_node() got multiple values for argument 'name'"),
    (lambda d: d.add_node("x", 1, 2, 3), TypeError,
     "DAG.add_node() takes from 1 to 3 positional arguments but 4 were given"),
    (lambda d: d.remove_node("a", "b"), TypeError,
     "DAG.remove_node() takes 1 positional arguments but 2 were given"),
    (lambda d: DAG(1), TypeError, "DAG.__new__() takes 0 positional arguments but 1 was given"),
    (lambda d: DAG(x=1), TypeError, "DAG.__new__() got an unexpected keyword argument 'x'"),
    (lambda d: d.clear_cache(1), TypeError, "DAG.clear_cache() takes no arguments (1 given)"),
    # text, list, dict, bytes and graph arguments
    (lambda d: d.add_node(1), TypeError,
     "argument 'name': 'int' object cannot be converted to 'PyString'"),
    (lambda d: d.node_ref(DAG().add_node("x")), TypeError,
     "argument 'name': 'NodeRef' object cannot be converted to 'PyString'"),
    (lambda d: d.add_nodes(("a",)), TypeError,
     "argument 'nodes': 'tuple' object cannot be converted to 'PyList'"),
    (lambda d: d.longest_path("a", "a", [("a", 1.0)]), TypeError,
     "argument 'costs': 'list' object cannot be converted to 'PyDict'"),
    (lambda d: DAG.from_bytes(bytearray(16)), TypeError,
     "argument 'data': 'bytearray' object cannot be converted to 'PyBytes'"),
    (lambda d: d.save(pathlib.Path("x")), TypeError,
     "argument 'path': 'PosixPath' object cannot be converted to 'PyString'"),
    (lambda d: d.diff("x"), TypeError, "argument 'other': 'str' object cannot be converted to 'DAG'"),
    # numbers
    (lambda d: d.add_edge("a", "a", weight="heavy"), TypeError,
     "argument 'weight': must be real number, not str"),
    (lambda d: d.all_topological_orderings(1.5), TypeError,
     "argument 'limit': 'float' object cannot be interpreted as an integer"),
    (lambda d: d.all_topological_orderings(-1), OverflowError,
     "can't convert negative int to unsigned"),
    (lambda d: d.partition_balanced(2**64), OverflowError, "int too big to convert"),
    (lambda d: d.filter(lambda n, p: 1), TypeError,
     "'int' object cannot be converted to 'PyBool'"),
    # A TypeError subclass is a TypeError: it gets the prefix too.
    (lambda d: d.add_edge("a", "a", weight=Refusing()), TypeError, "argument 'weight': no float"),
    (lambda d: d.all_topological_orderings(Refusing()), TypeError, "argument 'limit': no index"),
    # cost maps
    (lambda d: d.critical_path({1: 1.0}), TypeError,
     "argument 'costs': 'int' object cannot be converted to 'PyString'"),
    (lambda d: d.bottom_levels({"a": "1"}), TypeError,
     "argument 'costs': must be real number, not str"),
    (lambda d: d.bottom_levels({"a": Refusing()}), TypeError, "argument 'costs': no float"),
    # nodes, alone and in sequences
    (lambda d: d.remove_node(5), TypeError,
     "argument 'node': expected str or NodeRef for node identifier"),
    (lambda d: d.dirty_set("a"), TypeError, "argument 'changed': Can't extract `str` to `Vec`"),
    (lambda d: d.subgraph({"a"}), TypeError,
     "argument 'nodes': 'set' object cannot be converted to 'Sequence'"),
    (lambda d: d.change_provenance(n for n in "a"), TypeError,
     "argument 'changed': 'generator' object cannot be converted to 'Sequence'"),
    (lambda d: d.collapse(["a", 1], "s"), TypeError,
     "argument 'nodes': expected str or NodeRef for node identifier"),
    # the string choices
    (lambda d: d.subgraph_by_depth("a", 1, None), TypeError,
     "argument 'direction': 'NoneType' object cannot be converted to 'PyString'"),
])
def test_argument_errors_change_nothing(call, error, message):
    dag = DAG()
    dag.add_node("a")
    before = snapshot(dag)
    with pytest.raises(error) as info:
        call(dag)
    assert type(info.value) is error and str(info.value) == message
    assert snapshot(dag)[:2] == before[:2]


def test_conversion_error_keeps_its_cause():
    with pytest.raises(TypeError) as error:
        DAG().add_node(1)
    assert type(error.value.__cause__) is TypeError
    assert str(error.value.__cause__) == "'int' object cannot be converted to 'PyString'"
    with pytest.raises(TypeError) as error:
        DAG().execution_plan_constrained(Refusing())
    assert type(error.value) is TypeError and type(error.value.__cause__) is Unfit


def test_unbound_method_on_a_foreign_object():
    with pytest.raises(TypeError):
        DAG.node_count(5)


def test_arguments_are_converted_in_parameter_order():
    dag = DAG()
    with pytest.raises(TypeError, match="^argument 'max_workers'"):
        dag.execution_plan_constrained("2", costs=[])
    with pytest.raises(TypeError, match="^argument 'costs'"):
        dag.partition_communication_min(2, [], None, None)
    with pytest.raises(TypeError, match="^argument 'from_node'"):
        dag.shortest_path(5, 6)


def test_node_sequences_take_any_sequence_of_names_and_handles():
    dag = DAG()
    dag.add_nodes(["a", "b", "c"])
    dag.add_edges([("a", "b"), ("b", "c")])
    ref = dag.node_ref("b")
    for changed in (("b",), [ref], Names("b"), [type("S", (str,), {})("b")]):
        assert sorted(dag.dirty_set(changed)) == ["b", "c"]
        assert dag.change_provenance(changed=changed) == {"b": ["b"], "c": ["b"]}


@pytest.mark.parametrize("call", [
    lambda d, n: d.successors(n), lambda d, n: d.predecessors(n), lambda d, n: d.in_degree(n),
    lambda d, n: d.out_degree(n), lambda d, n: d.ancestors(n), lambda d, n: d.iter_descendants(n),
    lambda d, n: d.get_payload(n), lambda d, n: d.set_metadata(n, 1),
    lambda d, n: d.has_edge("b", n), lambda d, n: d.is_ancestor("b", n),
    lambda d, n: d.dirty_set(["b", n]), lambda d, n: d.change_provenance(["b", n]),
    lambda d, n: d.subgraph(["b", n]), lambda d, n: d.subgraph_by_depth(n, 1),
    lambda d, n: d.collapse(["b", n], "s"), lambda d, n: d.dominator_tree(n),
    lambda d, n: d.all_paths(n, "b"), lambda d, n: d.shortest_path("b", n),
    lambda d, n: d.longest_path("b", n),
])
def test_missing_and_stale_nodes(call):
    """A name that is not there, a handle of a removed node, a handle of a replaced one."""
    dag = DAG()
    old = dag.add_node("a")
    dag.add_node("b")
    with pytest.raises(NodeNotFoundError, match="^zz$"):
        call(dag, "zz")
    dag.remove_node("a")
    with pytest.raises(NodeNotFoundError, match="^a$"):
        call(dag, old)
    dag.add_node("a")
    with pytest.raises(StaleNodeRefError, match="^a$"):
        call(dag, old)


class Unsized(Names):
    """A sequence whose length raises; only the items tell what it holds."""

    def __init__(self, error, *items):
        super().__init__(*items)
        self.error = error

    def __len__(self):
        raise self.error


# The length of a node sequence is a hint: an Exception from it is dropped, but an interrupt
# or an exit stops the call.
@pytest.mark.parametrize("method, rest", [("dirty_set", []), ("change_provenance", []),
                                          ("subgraph", []), ("collapse", ["summary"])])
def test_node_sequence_length_that_raises(method, rest):
    dag = DAG()
    dag.add_nodes(["a", "b"])
    dag.add_edge("a", "b")
    call = getattr(dag, method)
    for error in (KeyboardInterrupt, SystemExit):
        with pytest.raises(error):
            call(Unsized(error, "a"), *rest)
    assert call(Unsized(LookupError, "a"), *rest) is not None
    assert (len(dag), dag.edge_count(), dag.generation) == (2, 1, 3)
