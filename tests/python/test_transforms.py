"""Transforms that copy payloads or call back into Python: snapshot, filter, merge."""

import gc
import json
import random
import sys

import pytest

from conftest import snapshot as shape
from torvex import DAG, CycleError, DuplicateNodeError


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


def test_snapshot_is_a_new_graph_with_the_same_generation():
    dag = build([("a", "b", 4.0, "l")], nodes=["a", "gone", "b"])
    dag.remove_node("gone")
    dag.topological_sort()
    snap = dag.snapshot()
    assert snap.generation == dag.generation
    assert snap.cache_info() == {"hits": 0, "misses": 0, "size": 0}
    assert [n.index for n in snap.nodes()] == [0, 1]  # packed slots
    same_graph(snap, dag)
    snap.add_node("c")
    assert "c" not in dag


def test_filter():
    dag = build([("a", "b", 2.0), ("b", "c"), ("a", "c", 5.0, "ac")], payloads={"b": 7})
    seen = []
    kept = dag.filter(lambda name, payload: seen.append((name, payload)) or name != "b")
    assert seen == [("a", None), ("b", 7), ("c", None)]
    same_graph(kept, build([("a", "c", 5.0, "ac")]))
    assert build([("a", "b"), ("b", "c")]).filter(lambda n, p: n != "b").edges() == []
    with pytest.raises(TypeError, match="^'int' object cannot be converted to 'PyBool'$"):
        dag.filter(lambda n, p: 1)


def test_filter_accepts_numpy_booleans_by_their_truth():
    # Stand-ins with NumPy's type names: the module is not a dependency.
    def scalar(name, truth):
        return type(name, (), {"__module__": "numpy", "__bool__": lambda self: truth})()

    dag = build([("a", "b"), ("b", "c")])
    kept = dag.filter(lambda n, p: scalar("bool_" if n == "a" else "bool", n != "b"))
    assert kept.node_names() == ["a", "c"]
    with pytest.raises(TypeError, match="^'int64' object cannot be converted to 'PyBool'$"):
        dag.filter(lambda n, p: scalar("int64", True))


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
    with pytest.raises(TypeError, match="^argument 'conflict'"):
        dag.merge(other, None)


# --- differential: derived graphs as one add_edge per edge builds them --------------------


def random_source(rng):
    """Nodes added in shuffled order (some removed again, leaving vacant slots), edges in
    random order along a hidden rank, parallel ones and weights and labels among them."""
    names = [f"n{i}" for i in range(rng.randint(2, 24))][:: rng.choice([1, -1])]
    dag = DAG()
    for n in rng.sample(names + ["x0", "x1"], len(names) + 2):
        dag.add_node(n, Obj() if rng.random() < 0.5 else None)
    for _ in range(rng.randint(0, 3 * len(names))):
        a, b = sorted(rng.sample(range(len(names)), 2))
        ends = rng.choice([(names[a], names[b]), (names[a], "x0"), ("x1", names[b])])
        dag.add_edge(*ends, rng.choice([None, 2.5]), rng.choice([None, "l"]))
    dag.remove_node("x0")
    dag.remove_node("x1")
    return dag


def literal(sources, nodes, edges, extra=()):
    """The graph of add_node per node (payload from the first of `sources` that has the name)
    then add_edge per edge, in order; its first CycleError takes its place."""
    out = DAG()
    for name in nodes:
        out.add_node(name, next(g for g in sources if name in g).get_payload(name))
    for name in extra:
        out.add_node(name)
    try:
        for edge in edges:
            out.add_edge(*edge)
    except CycleError as error:
        return error
    return out


def source_edges(dag):
    """(from, to, weight, label) in edge slot order."""
    edges = json.loads(dag.to_json())["edges"]
    return [(e["from"], e["to"], e["weight"], e.get("label")) for e in edges]


def outcome(call):
    try:
        return call()
    except CycleError as error:
        return error


def agree(got, expected, generation=None):
    if isinstance(expected, CycleError):
        assert isinstance(got, CycleError) and str(got) == str(expected)
        return
    assert got.to_json() == expected.to_json()  # nodes, edges in order, weights, labels
    assert got.generation == (generation or expected.generation)
    assert [(n.name, n.index) for n in got.nodes()] == [
        (n.name, n.index) for n in expected.nodes()]
    assert all(got.get_payload(n) is expected.get_payload(n) for n in got.node_names())


@pytest.mark.parametrize("seed", range(60))
def test_derived_graphs_equal_edge_by_edge_copies(seed):
    rng = random.Random(seed)
    dag, other = random_source(rng), random_source(rng)
    names, edges = dag.node_names(), source_edges(dag)
    agree(dag.reverse(), literal((dag,), names, [(b, a, w, l) for a, b, w, l in edges]))
    agree(dag.snapshot(), literal((dag,), names, edges), generation=dag.generation)
    kept = set(rng.sample(names, len(names) // 2))
    agree(dag.filter(lambda n, p: n in kept), literal(
        (dag,), [n for n in names if n in kept], [e for e in edges if {e[0], e[1]} <= kept]))
    def redundant(a, b):
        return any(s.name != b and dag.is_ancestor(s.name, b) for s in dag.successors(a))

    agree(dag.transitive_reduction(),
          literal((dag,), names, [e for e in edges if not redundant(*e[:2])]))
    # Merged: the other graph's edges only for a pair not yet there; cycles come up often.
    pairs = {e[:2] for e in edges}
    theirs = [e for e in source_edges(other) if e[:2] not in pairs and not pairs.add(e[:2])]
    merged_nodes = names + [n for n in other.node_names() if n not in dag]
    agree(outcome(lambda: dag.merge(other)), literal((dag, other), merged_nodes, edges + theirs))
    # Collapsed: edges redirected to the summary node, the first of each pair kept; may close
    # a cycle.
    group = set(rng.sample(names, rng.randint(1, 3)))
    redirected, seen = [], set()
    for a, b, w, l in edges:
        a, b = ("S" if a in group else a), ("S" if b in group else b)
        if a != b and (a, b) not in seen:
            seen.add((a, b))
            redirected.append((a, b, w, l))
    agree(outcome(lambda: dag.collapse(sorted(group), "S")),
          literal((dag,), [n for n in names if n not in group], redirected, extra=["S"]))
    sub = rng.sample(names, len(names) // 2 + 1)
    agree(dag.subgraph(sub), literal((dag,), sub, [e for e in edges if {e[0], e[1]} <= set(sub)]))
