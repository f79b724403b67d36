"""The traversal ancestor test and the precomputed ReachabilityIndex snapshot."""

import random
import subprocess
import sys
import textwrap

import pytest

from conftest import names
from test_concurrency import chain, first_conflict, in_background
from torvex import DAG, NodeNotFoundError, ReachabilityIndex, StaleNodeRefError


def graph(nodes, edges):
    dag = DAG()
    dag.add_nodes(nodes)
    dag.add_edges(edges)
    return dag


@pytest.fixture
def abc():
    return graph(["a", "b", "c"], [("a", "b"), ("b", "c")])


def test_small_graphs(abc):
    index = abc.build_reachability_index()
    assert type(index) is ReachabilityIndex and index.node_count() == 3
    assert index.can_reach("a", "c") and not index.can_reach("c", "a") and index.can_reach("b", "b")
    assert index.reachable_from("a") == ["b", "c"] and index.ancestors_of("c") == ["a", "b"]
    assert abc.is_ancestor("a", "c") and abc.is_ancestor("a", "a") and not abc.is_ancestor("c", "a")
    zam = graph(["z", "a", "m"], [("z", "m"), ("a", "m")])  # Kahn order, not insertion order
    assert zam.build_reachability_index().ancestors_of("m") == ["a", "z"]
    empty = DAG().build_reachability_index()
    assert empty.node_count() == 0
    with pytest.raises(NodeNotFoundError, match="^a$"):
        empty.reachable_from("a")


def test_index_is_a_snapshot_of_the_build(abc):
    old_b, old_c = abc.node_ref("b"), abc.node_ref("c")
    index = abc.build_reachability_index()
    abc.add_node("d")
    abc.add_edge("c", "d")
    abc.remove_node("c")
    abc.remove_node("b")
    abc.add_node("b")  # a new b that a does not reach
    with pytest.raises(NodeNotFoundError, match="^d$"):
        index.can_reach("a", "d")
    assert index.reachable_from("a") == ["b", "c"] and index.node_count() == 3
    assert index.can_reach(old_b, old_c)  # the index knows names, not epochs
    with pytest.raises(StaleNodeRefError, match="^b$"):
        abc.is_ancestor(old_b, "a")
    with pytest.raises(NodeNotFoundError, match="^c$"):
        abc.is_ancestor("a", old_c)
    assert not abc.is_ancestor("a", "b")


def test_errors_and_class_surface(abc):
    index = abc.build_reachability_index()
    with pytest.raises(NodeNotFoundError, match="^x$"):
        index.can_reach("x", "y")
    with pytest.raises(NodeNotFoundError, match="^x$"):
        abc.is_ancestor("x", "y")
    with pytest.raises(TypeError, match="^argument 'node': expected str or NodeRef"):
        index.reachable_from(1)
    with pytest.raises(TypeError, match="^argument 'descendant': expected str or NodeRef"):
        abc.is_ancestor("a", 1.0)
    with pytest.raises(TypeError, match=r"ReachabilityIndex.ancestors_of\(\) missing 1 required"):
        index.ancestors_of()
    with pytest.raises(TypeError, match="^No constructor defined for ReachabilityIndex$"):
        ReachabilityIndex()
    with pytest.raises(AttributeError):
        index.x = 1


@pytest.mark.parametrize("seed", range(4))
def test_index_agrees_with_traversal(seed):
    rng = random.Random(seed)
    n = rng.choice([63, 64, 65, 130])  # around the 64-bit row words
    order = [f"n{k}" for k in range(n)]
    rng.shuffle(order)
    edges = [(order[i], order[j]) for i in range(n) for j in range(i + 1, n) if rng.random() < 0.04]
    dag = graph(sorted(order), edges + edges[:5])  # parallel edges too
    index = dag.build_reachability_index()
    kahn = names(dag.topological_sort())
    for a in order[::7]:
        below = set(names(dag.descendants(a)))
        assert index.reachable_from(a) == [x for x in kahn if x in below]
        above = set(names(dag.ancestors(a)))
        assert index.ancestors_of(a) == [x for x in kahn if x in above]
        for b in order[::5]:
            assert index.can_reach(a, b) == dag.is_ancestor(a, b) == (a == b or b in below)


def test_index_too_large_for_memory_raises_memory_error():
    # Address space capped just above what the graph needs; the rows want about 300 MB more.
    script = textwrap.dedent("""
        import resource
        from torvex import DAG
        dag = DAG()
        dag.add_nodes([str(i) for i in range(50_000)])
        with open("/proc/self/status") as f:
            vm = next(int(l.split()[1]) for l in f if l.startswith("VmSize:")) * 1024
        resource.setrlimit(resource.RLIMIT_AS, (vm + (64 << 20), resource.RLIM_INFINITY))
        try:
            dag.build_reachability_index()
        except MemoryError:
            print("MemoryError", dag.node_count(), dag.is_ancestor("0", "0"))
    """)
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                          timeout=120)
    assert done.stdout.strip() == "MemoryError 50000 True", done.stderr


@pytest.mark.parametrize("query", [
    lambda d: d.is_ancestor("0", "19999"),
    lambda d: d.build_reachability_index(),
])
def test_dag_methods_release_the_lock_and_keep_the_borrow(query):
    dag = chain(20_000)
    thread, stop, errors = in_background(lambda: query(dag))
    try:
        message, _ = first_conflict(lambda: dag.remove_node("missing"), NodeNotFoundError)
    finally:
        stop.set()
        thread.join()
    assert not errors and message == "Already borrowed"
