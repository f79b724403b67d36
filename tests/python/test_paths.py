"""Path queries: all paths, fewest edges, greatest node cost, and the cost-map argument."""

import math
import sys

import pytest

from conftest import names, snapshot
from test_concurrency import chain, first_conflict, in_background
from torvex import DAG, NodeNotFoundError, StaleNodeRefError


def dag_with(nodes, edges):
    dag = DAG()
    dag.add_nodes(list(nodes))
    dag.add_edges(edges)
    return dag


@pytest.mark.parametrize("edges, shortest", [
    ([("a", "b"), ("a", "c"), ("b", "d"), ("c", "d")], ["a", "c", "d"]),
    ([("a", "c"), ("a", "b"), ("b", "d"), ("c", "d")], ["a", "b", "d"]),
])
def test_diamond_answers_depend_on_edge_order_only_for_shortest(edges, shortest):
    dag = dag_with("abcd", edges)
    assert [names(p) for p in dag.all_paths("a", "d")] == [["a", "b", "d"], ["a", "c", "d"]]
    assert names(dag.shortest_path("a", "d")) == shortest  # newest edge is discovered first
    path, total = dag.longest_path("a", "d")
    assert (names(path), total) == (["a", "b", "d"], 3.0)


def test_self_unreachable_and_limits(diamond):
    assert all([names(p) for p in diamond.all_paths("b", "b", n)] == [["b"]] for n in (None, 0))
    assert names(diamond.shortest_path("b", "b")) == ["b"]
    assert diamond.longest_path("b", "b", {"b": 2.5}) == (diamond.shortest_path("b", "b"), 2.5)
    assert diamond.all_paths("d", "a") == [] and diamond.shortest_path("d", "a") is None
    assert diamond.longest_path("b", "c") is None
    assert diamond.all_paths("a", "d", 0) == []
    assert [names(p) for p in diamond.all_paths("a", "d", limit=1)] == [["a", "b", "d"]]
    doubled = dag_with("ab", [("a", "b"), ("a", "b")])
    assert [names(p) for p in doubled.all_paths("a", "b")] == [["a", "b"], ["a", "b"]]
    assert len(doubled.all_paths("a", "b", 1)) == 1


def test_costs_choose_the_path(diamond):
    class Cost:
        def __float__(self):
            return 5.0

    class Costs(dict):
        pass

    path, total = diamond.longest_path("a", "d", Costs(c=Cost(), zzz=100))
    assert names(path) == ["a", "c", "d"] and type(total) is float and total == 7.0
    unit = diamond.longest_path("a", "d")
    assert diamond.longest_path("a", "d", None) == diamond.longest_path("a", "d", {}) == unit
    only_self = diamond.longest_path("a", "a", {"a": math.nan})
    assert names(only_self[0]) == ["a"] and math.isnan(only_self[1])
    assert diamond.longest_path("a", "d", {"a": math.nan}) is None


def test_costs_are_copied_safely(diamond):
    costs = {}

    class Clearing:  # empties the dict while it is being read
        def __float__(self):
            costs.clear()
            return 4.0

    costs.update(a=Clearing(), b=2.0, c=3.0)
    assert diamond.longest_path("a", "d", costs)[1] == 8.0 and costs == {}
    key, value = "".join(["c", "c"]), 10**20
    before = sys.getrefcount(key), sys.getrefcount(value)
    diamond.longest_path("a", "d", {key: value})
    assert (sys.getrefcount(key), sys.getrefcount(value)) == before


@pytest.mark.parametrize("call, error, text", [
    (lambda d: d.longest_path("a", "d", [("a", 1.0)]), TypeError,
     "^argument 'costs': 'list' object cannot be converted to 'PyDict'$"),
    (lambda d: d.longest_path("x", "y", {1: 1.0}), TypeError,
     "^argument 'costs': 'int' object cannot be converted to 'PyString'$"),
    (lambda d: d.longest_path("a", "d", {"a": "1"}), TypeError, "^argument 'costs': "),
    (lambda d: d.all_paths("a", "d", "2"), TypeError, "^argument 'limit': "),
    (lambda d: d.all_paths("x", "y", -1), OverflowError, "negative"),
    (lambda d: d.all_paths("x", 5, -1), TypeError, "^argument 'to_node': expected str or NodeRef"),
    (lambda d: d.shortest_path(5, 6), TypeError, "^argument 'from_node': expected str or NodeRef"),
])
def test_argument_errors_come_first_and_change_nothing(diamond, call, error, text):
    before = snapshot(diamond)
    with pytest.raises(error, match=text):
        call(diamond)
    assert snapshot(diamond) == before


def test_missing_nodes_and_handles():
    dag = DAG()
    gone, stale = dag.add_node("gone"), dag.add_node("stale")
    dag.remove_node("gone")
    dag.remove_node("stale")
    dag.add_node("stale")
    for method in (DAG.all_paths, DAG.shortest_path, DAG.longest_path):
        with pytest.raises(NodeNotFoundError, match="^gone$"):
            method(dag, gone, "missing")  # handles are checked before any plain name
        with pytest.raises(StaleNodeRefError, match="^stale$"):
            method(dag, "missing", stale)
        with pytest.raises(NodeNotFoundError, match="^x$"):
            method(dag, "x", "y")


def test_long_chain_needs_no_deep_stack():
    n = 300_000
    dag, last = chain(n), str(n - 1)
    assert len(dag.all_paths("0", last)[0]) == len(dag.shortest_path("0", last)) == n
    assert dag.longest_path("0", last)[1] == float(n)


@pytest.mark.parametrize("query", [
    lambda d: d.all_paths("0", "49999"),
    lambda d: d.shortest_path("0", "49999"),
    lambda d: d.longest_path("0", "49999", {"1": 2.0}),
])
def test_queries_release_the_lock_and_keep_the_borrow(query):
    dag = chain(50_000)
    thread, stop, errors = in_background(lambda: query(dag))
    try:
        message, _ = first_conflict(lambda: dag.remove_node("missing"), NodeNotFoundError)
    finally:
        stop.set()
        thread.join()
    assert not errors and message == "Already borrowed"
