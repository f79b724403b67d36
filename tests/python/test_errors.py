"""Exception classes, error conversion and the fixed texts of argument handling."""

import pytest

from torvex import (DAG, CycleError, DuplicateNodeError, EdgeNotFoundError, GraphError,
                    NodeNotFoundError, StaleNodeRefError, TorvexError)


@pytest.mark.parametrize("cls, doc", [
    (TorvexError, "Base exception for all torvex errors."),
    (CycleError, "Raised when an operation would create a cycle in the DAG."),
    (NodeNotFoundError, "Raised when a referenced node does not exist."),
    (DuplicateNodeError, "Raised when adding a node with a name that already exists."),
    (EdgeNotFoundError, "Raised when a referenced edge does not exist."),
    (GraphError, "Raised for general graph operation errors."),
    (StaleNodeRefError,
     "Raised when a NodeRef refers to a node that has been removed or replaced."),
])
def test_exception_classes(cls, doc):
    assert cls.__module__ == "torvex"
    assert cls.__doc__ == doc
    base = Exception if cls is TorvexError else TorvexError
    assert cls.__bases__ == (base,)


def test_core_errors_carry_bare_texts():
    dag = DAG()
    dag.add_nodes(["a", "b"])
    with pytest.raises(DuplicateNodeError) as dup:
        dag.add_node("a")
    assert dup.value.args == ("a",)
    with pytest.raises(EdgeNotFoundError) as edge:
        dag.remove_edge("a", "b")
    assert str(edge.value) == "a -> b"
    with pytest.raises(NodeNotFoundError) as missing:
        dag.successors("zz")
    assert missing.value.args == ("zz",)


class Unfit(TypeError):
    pass


class Refusing:
    """A number whose conversions raise a TypeError subclass."""

    def __float__(self):
        raise Unfit("no float")

    def __index__(self):
        raise Unfit("no index")


@pytest.mark.parametrize("call, message", [
    (lambda d: d.add_node(), "DAG.add_node() missing 1 required positional argument: 'name'"),
    (lambda d: d.remove_edge(),
     "DAG.remove_edge() missing 2 required positional arguments: 'from_node' and 'to_node'"),
    (lambda d: d.add_node("x", foo=1), "DAG.add_node() got an unexpected keyword argument 'foo'"),
    (lambda d: d.add_node("x", name="x"), "DAG.add_node() got multiple values for argument 'name'"),
    (lambda d: d.add_node("x", 1, 2, 3),
     "DAG.add_node() takes from 1 to 3 positional arguments but 4 were given"),
    (lambda d: d.remove_node("a", "b"),
     "DAG.remove_node() takes 1 positional arguments but 2 were given"),
    (lambda d: DAG(1), "DAG.__new__() takes 0 positional arguments but 1 was given"),
    (lambda d: DAG(x=1), "DAG.__new__() got an unexpected keyword argument 'x'"),
    (lambda d: d.add_node(1),
     "argument 'name': 'int' object cannot be converted to 'PyString'"),
    (lambda d: d.add_nodes(("a",)),
     "argument 'nodes': 'tuple' object cannot be converted to 'PyList'"),
    (lambda d: d.remove_node(5),
     "argument 'node': expected str or NodeRef for node identifier"),
    (lambda d: d.add_edge("a", "a", weight="heavy"), "argument 'weight': must be real number, not str"),
    # A TypeError subclass is a TypeError: it gets the prefix too.
    (lambda d: d.add_edge("a", "a", weight=Refusing()), "argument 'weight': no float"),
    (lambda d: d.all_topological_orderings(Refusing()), "argument 'limit': no index"),
    (lambda d: d.bottom_levels({"a": Refusing()}), "argument 'costs': no float"),
])
def test_argument_errors(call, message):
    dag = DAG()
    with pytest.raises(TypeError) as error:
        call(dag)
    assert str(error.value) == message


def test_conversion_error_keeps_its_cause():
    with pytest.raises(TypeError) as error:
        DAG().add_node(1)
    assert type(error.value.__cause__) is TypeError
    assert str(error.value.__cause__) == "'int' object cannot be converted to 'PyString'"
    with pytest.raises(TypeError) as error:
        DAG().execution_plan_constrained(Refusing())
    assert type(error.value) is TypeError and type(error.value.__cause__) is Unfit


def test_method_without_parameters_uses_the_interpreters_text():
    with pytest.raises(TypeError, match="takes no arguments"):
        DAG().clear_cache(1)


def test_unbound_method_on_a_foreign_object():
    with pytest.raises(TypeError):
        DAG.node_count(5)


def test_text_signatures():
    assert DAG.add_node.__text_signature__ == "($self, name, payload=None, metadata=None)"
    assert DAG.add_edge.__text_signature__ == "($self, from_node, to_node, weight=None, label=None)"
    assert DAG.all_topological_orderings.__text_signature__ == "($self, limit=None)"
    assert DAG.builder.__text_signature__ == "()"
    assert DAG.has_edge.__doc__.endswith("Raises:\n    NodeNotFoundError: If either node doesn't exist.")
    assert DAG.cache_info.__doc__ == 'Return cache statistics: {"hits": N, "misses": N, "size": N}.'
