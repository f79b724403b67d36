"""Transforms: reverse, snapshot, closure, reduction, dominator tree, filter, merge, collapse."""

import gc
import sys

import pytest

from conftest import snapshot as shape
from torvex import (DAG, CycleError, DuplicateNodeError, NodeNotFoundError,
                    StaleNodeRefError)


def build(edges, nodes=None, payloads=None):
    """A graph from node names (default: first appearance in `edges`) and edge tuples
    (from, to[, weight[, label]])."""
    dag = DAG()
    if nodes is None:
        nodes = list(dict.fromkeys(n for e in edges for n in e[:2]))
    for n in nodes:
        dag.add_node(n, (payloads or {}).get(n))
    dag.add_edges(edges)
    return dag


def same_graph(got, expected):
    """Same node order and edge order, and the same payloads, weights and labels."""
    assert got.node_names() == expected.node_names()
    assert got.edges() == expected.edges()
    d = got.diff(expected)
    assert (d.changed_nodes, d.changed_edges) == ([], [])


def refcounts(objs):
    gc.collect()
    return [sys.getrefcount(o) for o in objs]


class Obj:
    pass


def test_signatures():
    assert {m: getattr(DAG, m).__text_signature__ for m in [
        "reverse", "collapse", "dominator_tree", "filter", "merge"]} == {
        "reverse": "($self)", "collapse": "($self, nodes, collapsed_name, payload=None)",
        "dominator_tree": "($self, root)", "filter": "($self, predicate)",
        "merge": '($self, other, conflict="keep_first", conflict_resolver=None)'}


def test_reverse_keeps_edge_data_and_parallel_edges():
    dag = build([("a", "b", 2.0, "x"), ("b", "c"), ("a", "b", 3.0)])
    before = shape(dag)
    same_graph(dag.reverse(), build([("b", "a", 2.0, "x"), ("c", "b"), ("b", "a", 3.0)],
                                    nodes=["a", "b", "c"]))
    assert shape(dag) == before


def test_snapshot_shares_payloads_and_copies_structure():
    dag = DAG()
    dag.add_node("a", [1], {"m": 1})
    dag.add_node("gone")
    dag.add_node("b")
    dag.remove_node("gone")
    dag.add_edge("a", "b", 4.0, "l")
    dag.topological_sort()
    snap = dag.snapshot()
    assert snap.generation == dag.generation
    assert snap.cache_info() == {"hits": 0, "misses": 0, "size": 0}
    assert [n.index for n in snap.nodes()] == [0, 1]  # packed slots
    same_graph(snap, dag)
    assert snap.get_payload("a") is dag.get_payload("a")
    assert snap.get_metadata("a") is dag.get_metadata("a")
    dag.get_payload("a").append(2)
    assert snap.get_payload("a") == [1, 2]
    snap.add_node("c")
    assert "c" not in dag


def test_closure_and_reduction():
    chain = build([("a", "b", 2.0, "x"), ("b", "c", 3.0)])
    closed = chain.transitive_closure()
    same_graph(closed, build([("a", "b", 2.0, "x"), ("b", "c", 3.0), ("a", "c")]))
    shortcut = build([("a", "b", 2.0, "x"), ("b", "c", 3.0, "y"), ("a", "c", 9.0)])
    same_graph(shortcut.transitive_reduction(), build([("a", "b", 2.0, "x"), ("b", "c", 3.0, "y")]))

    parallel = build([("a", "b", 1.0, "p"), ("a", "b", 2.0, "q")])
    same_graph(parallel.transitive_reduction(), parallel)


def test_dominator_tree():
    dag = build([("a", "b"), ("a", "c"), ("b", "d"), ("c", "d"), ("x", "d")])
    assert dag.dominator_tree("a") == [("a", "a"), ("b", "a"), ("c", "a"), ("d", "a")]
    assert dag.dominator_tree(dag.node_ref("b")) == [("b", "b"), ("d", "b")]
    assert dag.cache_info() == {"hits": 0, "misses": 0, "size": 0}  # its own order, uncached
    with pytest.raises(NodeNotFoundError, match="^zz$"):
        dag.dominator_tree("zz")
    stale = dag.node_ref("x")
    dag.remove_node("x")
    dag.add_node("x")
    with pytest.raises(StaleNodeRefError, match="^x$"):
        dag.dominator_tree(stale)
    with pytest.raises(TypeError, match="^argument 'root': expected str or NodeRef"):
        dag.dominator_tree(1)


def test_filter():
    dag = build([("a", "b", 2.0), ("b", "c"), ("a", "c", 5.0, "ac")], payloads={"b": 7})
    seen = []
    kept = dag.filter(lambda name, payload: seen.append((name, payload)) or name != "b")
    assert seen == [("a", None), ("b", 7), ("c", None)]
    same_graph(kept, build([("a", "c", 5.0, "ac")]))
    assert build([("a", "b"), ("b", "c")]).filter(lambda n, p: n != "b").edges() == []
    with pytest.raises(TypeError, match="^'int' object cannot be converted to 'PyBool'$"):
        dag.filter(lambda n, p: 1)


def test_filter_accepts_numpy_booleans():
    np = pytest.importorskip("numpy")
    dag = build([("a", "b")])
    assert dag.filter(lambda n, p: np.bool_(n == "a")).node_names() == ["a"]
    with pytest.raises(TypeError, match="^'int64' object cannot be converted to 'PyBool'$"):
        dag.filter(lambda n, p: np.int64(1))


def test_callbacks_see_a_borrowed_graph():
    dag = build([("a", "b")])
    # Reading the graph inside a callback works; changing it fails with the borrow error.
    assert dag.filter(lambda n, p: dag.has_node(n)).node_names() == ["a", "b"]
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        dag.filter(lambda n, p: dag.add_node("z") is None)
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        dag.merge(dag, conflict_resolver=lambda n, p, q: dag.set_payload(n, 1))
    assert dag.node_names() == ["a", "b"] and dag.get_payload("a") is None


def test_failing_callbacks_leave_nothing_behind():
    objs = [Obj() for _ in range(3)]
    dag = build([("a", "b")])
    dag.set_payload("a", objs[0])
    dag.set_metadata("a", objs[1])
    other = build([("a", "c")], payloads={"a": objs[2]})
    start, before = refcounts(objs), shape(dag)

    def boom(*args):
        raise KeyError("boom")

    with pytest.raises(KeyError, match="boom") as caught:
        dag.filter(lambda n, p: n == "a" or boom())
    del caught
    with pytest.raises(KeyError, match="boom") as caught:
        dag.merge(other, conflict_resolver=boom)
    del caught
    with pytest.raises(CycleError):
        dag.merge(build([("b", "a")]), conflict="keep_second")
    assert refcounts(objs) == start and shape(dag) == before


def test_merge_strategies():
    first_payload, first_meta, second_payload, second_meta = Obj(), Obj(), Obj(), Obj()
    dag = DAG()
    dag.add_node("a", first_payload, first_meta)
    other = DAG()
    other.add_node("a", second_payload, second_meta)
    other.add_node("b")

    def payloads(merged):
        return merged.get_payload("a"), merged.get_metadata("a")

    assert payloads(dag.merge(other)) == (first_payload, first_meta)
    assert payloads(dag.merge(other, "keep_second")) == (second_payload, second_meta)
    calls = []
    merged = dag.merge(other, "bogus", lambda n, p, q: calls.append((n, p, q)))
    assert calls == [("a", first_payload, second_payload)]
    assert payloads(merged) == (None, first_meta) and merged.node_names() == ["a", "b"]
    with pytest.raises(DuplicateNodeError, match="^a$"):
        dag.merge(other, "error")
    with pytest.raises(ValueError) as error:
        dag.merge(other, "Keep_First")
    assert str(error.value) == ("Invalid conflict strategy: 'Keep_First'. "
                                "Expected 'keep_first', 'keep_second', or 'error'.")
    with pytest.raises(TypeError, match="^argument 'other': 'list' object cannot be "
                                        "converted to 'DAG'$"):
        dag.merge([])
    with pytest.raises(TypeError, match="^argument 'conflict'"):
        dag.merge(other, None)


def test_merge_edges():
    mine = build([("a", "b", 1.0), ("a", "b", 2.0)])
    theirs = build([("a", "b", 5.0), ("b", "c", 3.0, "x"), ("b", "c", 4.0)])
    same_graph(mine.merge(theirs), build([("a", "b", 1.0), ("a", "b", 2.0), ("b", "c", 3.0, "x")]))
    same_graph(mine.merge(mine), mine)
    with pytest.raises(CycleError) as error:
        build([("a", "b")]).merge(build([("b", "a")]))
    assert str(error.value) == "Edge b -> a would create a cycle: a -> b"


def test_collapse():
    dag = build([("a", "b", 2.0), ("b", "c"), ("c", "d", 3.0, "x")])
    summary = Obj()
    collapsed = dag.collapse(["b", dag.node_ref("c"), "b"], "bc", summary)
    same_graph(collapsed, build([("a", "bc", 2.0), ("bc", "d", 3.0, "x")], nodes=["a", "d", "bc"],
                                payloads={"bc": summary}))
    assert collapsed.get_payload("bc") is summary and collapsed.get_metadata("bc") is None
    assert dag.collapse(("b",), "b").node_names() == ["a", "c", "d", "b"]  # name reused

    parallel = build([("a", "b", 1.0, "first"), ("a", "b", 2.0), ("x", "a"), ("x", "b")])
    same_graph(parallel.collapse([], "s"), build([("a", "b", 1.0, "first"), ("x", "a"), ("x", "b")],
                                                nodes=["a", "b", "x", "s"]))
    # x->a and x->b land on the same pair: the first edge of the pair keeps its data.
    assert parallel.collapse(["a", "b"], "ab").edges() == [("x", "ab")]


def test_collapse_errors_build_nothing():
    dag = build([("a", "b"), ("b", "c")])
    before = shape(dag)
    with pytest.raises(NodeNotFoundError, match="^zz$"):
        dag.collapse(["a", "zz", "yy"], "s")
    stale = dag.node_ref("a")
    other = build([("a", "b")])  # same names, its own epochs
    other.remove_node("a")
    other.add_node("a")
    with pytest.raises(StaleNodeRefError, match="^a$"):  # handles are checked before names
        other.collapse(["zz", stale], "s")
    with pytest.raises(DuplicateNodeError, match="^b$"):
        dag.collapse(["a"], "b")
    with pytest.raises(CycleError) as error:
        dag.collapse(["a", "c"], "ac")
    assert str(error.value) == "Edge b -> ac would create a cycle: ac -> b"
    with pytest.raises(TypeError, match="^argument 'nodes': Can't extract `str` to `Vec`$"):
        dag.collapse("ab", "s")
    with pytest.raises(TypeError, match="^argument 'nodes': expected str or NodeRef"):
        dag.collapse(["a", 1], "s")
    with pytest.raises(TypeError, match="^argument 'nodes': 'set' object cannot be converted "
                                        "to 'Sequence'$"):
        dag.collapse({"a"}, "s")
    assert shape(dag) == before


def test_long_chain_needs_no_recursion():
    n = 200_000
    dag = DAG()
    dag.add_nodes([str(i) for i in range(n)])
    dag.add_edges([(str(i), str(i + 1)) for i in range(n - 1)])
    assert dag.reverse().edge_count() == n - 1
    assert dag.transitive_reduction().edge_count() == n - 1
    assert len(dag.dominator_tree("0")) == n
    assert dag.collapse([str(i) for i in range(1, n - 1)], "mid").edges() == [("0", "mid"),
                                                                              ("mid", str(n - 1))]
