"""Topological orders and their use of the cache."""

import pytest

from conftest import is_topo_order, names
from torvex import DAG


@pytest.fixture
def three():
    dag = DAG()
    dag.add_nodes(["c", "a", "b"])
    return dag


def test_empty_graph_orders():
    dag = DAG()
    assert dag.topological_sort() == dag.topological_sort_dfs() == []
    assert dag.topological_levels() == dag.all_topological_orderings() == []
    assert len(dag.iter_topological_sort()) == len(dag.iter_topological_levels()) == 0


def test_ties_break_by_name(three):
    assert names(three.topological_sort()) == ["a", "b", "c"]
    assert names(three.topological_sort_dfs()) == ["c", "b", "a"]
    assert [names(level) for level in three.topological_levels()] == [["a", "b", "c"]]
    assert [names(o) for o in three.all_topological_orderings(limit=2)] == [
        ["a", "b", "c"], ["a", "c", "b"]]


def test_orders_respect_edges(diamond):
    assert is_topo_order(diamond, diamond.topological_sort())
    assert is_topo_order(diamond, diamond.topological_sort_dfs())
    assert [names(level) for level in diamond.topological_levels()] == [["a"], ["b", "c"], ["d"]]
    orderings = diamond.all_topological_orderings()
    assert [names(o) for o in orderings] == [["a", "b", "c", "d"], ["a", "c", "b", "d"]]


def test_limit_argument(three):
    assert three.all_topological_orderings(0) == []
    assert len(three.all_topological_orderings(None)) == 6
    with pytest.raises(OverflowError):
        three.all_topological_orderings(-1)
    with pytest.raises(TypeError, match="^argument 'limit': "):
        three.all_topological_orderings(1.5)
    with pytest.raises(TypeError, match="unexpected keyword argument 'cap'"):
        three.all_topological_orderings(cap=1)


def test_cache_hits_and_misses(three):
    three.topological_sort()
    three.iter_topological_sort()
    assert three.cache_info() == {"hits": 1, "misses": 1, "size": 1}
    three.all_topological_orderings()
    assert three.cache_info() == {"hits": 1, "misses": 1, "size": 1}
    three.topological_levels()
    three.roots()
    assert three.cache_info() == {"hits": 1, "misses": 3, "size": 3}
    generation = three.generation
    assert three.clear_cache() is None
    assert three.cache_info() == {"hits": 1, "misses": 3, "size": 0}
    assert three.generation == generation


def test_results_are_fresh_and_unaffected_by_changes(three):
    first, second = three.topological_sort(), three.topological_sort()
    assert first == second and first is not second and first[0] is not second[0]
    it = three.iter_topological_sort()
    three.add_node("0")
    assert names(first) == ["a", "b", "c"] and names(list(it)) == ["a", "b", "c"]
    assert names(three.topological_sort()) == ["0", "a", "b", "c"]


def test_long_chain_needs_no_recursion():
    n = 200_000
    dag = DAG()
    dag.add_nodes([str(i) for i in range(n)])
    dag.add_edges([(str(i), str(i + 1)) for i in range(n - 1)])
    assert dag.topological_sort_dfs()[-1].name == str(n - 1)
    assert len(dag.descendants("0")) == n - 1
    assert len(dag.topological_levels()) == n
    assert dag.validate()
