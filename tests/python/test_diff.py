"""DAG.diff and the GraphDiff result."""

import gc
import sys

import pytest

from torvex import DAG, GraphDiff

FIELDS = ["added_nodes", "removed_nodes", "changed_nodes",
          "added_edges", "removed_edges", "changed_edges"]


def as_dict(d):
    return {f: getattr(d, f) for f in FIELDS}


def empty():
    return {f: [] for f in FIELDS}


def with_payloads(**payloads):
    dag = DAG()
    for name, payload in payloads.items():
        dag.add_nodes([(name, payload)])
    return dag


class Raising:
    def __init__(self, where):
        self.where = where

    def __eq__(self, other):
        if self.where == "eq":
            raise ValueError("eq")
        return self

    def __bool__(self):
        raise ValueError("bool")


def test_structure():
    a, b = DAG(), DAG()
    a.add_nodes(["a", "b"])
    a.add_edge("a", "b")
    b.add_nodes(["b", "c"])
    b.add_edge("b", "c")
    d = a.diff(b)
    assert as_dict(d) == {**empty(), "added_nodes": ["c"], "removed_nodes": ["a"],
                          "added_edges": [("b", "c")], "removed_edges": [("a", "b")]}
    assert as_dict(a.diff(a)) == empty() and as_dict(DAG().diff(DAG())) == empty()
    # Lists are sorted by UTF-8 bytes: upper case first, a prefix before its extensions.
    c = DAG()
    c.add_nodes(["ab", "é", "B", "a"])
    c.add_edges([("a", "B"), ("a", "ab")])
    assert c.diff(DAG()).removed_nodes == ["B", "a", "ab", "é"]
    assert c.diff(DAG()).removed_edges == [("a", "B"), ("a", "ab")]


def test_payload_comparison():
    nan = float("nan")
    self_ = with_payloads(n=None, z=None, same=[1, 2], nan=nan, eq=Raising("eq"),
                          truth=Raising("bool"), absent=1)
    self_.add_node("absent2")
    other = with_payloads(n=None, z=0, same=[1, 2], nan=nan, eq=1, truth=1, absent2=None)
    other.add_node("absent")
    # A None stored by add_nodes is an object, so it differs from an absent payload.
    assert self_.diff(other).changed_nodes == ["absent", "absent2", "eq", "nan", "truth", "z"]
    # No identity shortcut: NaN is unequal even to itself.
    assert self_.diff(self_).changed_nodes == ["eq", "nan", "truth"]


def test_metadata_is_not_compared():
    a, b = DAG(), DAG()
    a.add_node("x", 1, "meta")
    b.add_node("x", 1, "other")
    assert a.diff(b).changed_nodes == []


@pytest.mark.parametrize("w1, l1, w2, l2, changed", [
    (1.0, None, 1.0, None, False),
    (1.0, None, 1.0 + sys.float_info.epsilon, None, False),  # exactly epsilon apart
    (1.0, None, 1.0000001, None, True),
    (float("nan"), "x", 1.0, "x", False),
    (1.0, None, 1.0, "", True),
    (1.0, "a", 1.0, "b", True),
])
def test_edge_data_comparison(w1, l1, w2, l2, changed):
    a, b = DAG(), DAG()
    for dag, w, label in ((a, w1, l1), (b, w2, l2)):
        dag.add_nodes(["s", "t"])
        dag.add_edge("s", "t", w, label)
    assert a.diff(b).changed_edges == ([("s", "t")] if changed else [])


def test_parallel_edges_compare_the_newest():
    a, b = DAG(), DAG()
    for dag in (a, b):
        dag.add_nodes(["s", "t"])
    a.add_edges([("s", "t", 5.0), ("s", "t", 1.0)])
    b.add_edge("s", "t", 1.0)
    assert as_dict(a.diff(b)) == empty()


def test_result_object():
    a = DAG()
    a.add_nodes(["x", "y"])
    a.add_edge("x", "y")
    d = a.diff(DAG())
    assert repr(d) == ("GraphDiff(added_nodes=0, removed_nodes=2, changed_nodes=0, "
                       "added_edges=0, removed_edges=1, changed_edges=0)")
    assert repr(DAG().diff(DAG())) == ("GraphDiff(added_nodes=0, removed_nodes=0, "
                                       "changed_nodes=0, added_edges=0, removed_edges=0, "
                                       "changed_edges=0)")
    assert d.to_dict() == as_dict(d) and sorted(d.to_dict()) == sorted(FIELDS)
    first = d.removed_nodes
    first.append("junk")
    assert d.removed_nodes == ["x", "y"] and d.removed_nodes is not d.removed_nodes
    with pytest.raises(AttributeError):
        d.removed_nodes = []
    with pytest.raises(TypeError, match="^No constructor defined for GraphDiff$"):
        GraphDiff()
    a.remove_node("x")
    assert d.removed_edges == [("x", "y")]  # a snapshot, not a view


def test_argument_and_reference_handling():
    with pytest.raises(TypeError, match="^argument 'other': 'str' object cannot be converted "
                                        "to 'DAG'$"):
        DAG().diff("x")
    payload = [1]
    a = with_payloads(n=payload)
    b = with_payloads(n=Raising("eq"))
    gc.collect()
    start = sys.getrefcount(payload)
    for _ in range(3):
        assert a.diff(b).changed_nodes == ["n"]
    gc.collect()
    assert sys.getrefcount(payload) == start
