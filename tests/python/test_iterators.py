"""NodeIterator and NodeLevelIterator over snapshots."""

from conftest import names
from torvex import DAG, NodeIterator, NodeLevelIterator


def test_node_iterator_steps_and_collects():
    dag = DAG()
    dag.add_nodes(["a", "b", "c"])
    it = dag.iter_nodes()
    assert type(it) is NodeIterator and iter(it) is it
    assert next(it).name == "a" and next(it).name == "b"
    assert len(it) == 3 and repr(it) == "NodeIterator(total=3, remaining=1)"
    assert names(it.collect()) == ["c"]
    assert next(it, None) is None and it.collect() == [] and it  # len is still 3
    assert repr(it) == "NodeIterator(total=3, remaining=0)"


def test_iterators_do_not_see_later_changes():
    dag = DAG()
    dag.add_nodes(["a", "b", "c"])
    it = dag.iter_nodes()
    expected = dag.nodes()
    dag.remove_node("a")
    dag.add_node("z")
    assert list(it) == expected and expected[0].index == 0 and expected[0].name == "a"


def test_iterators_match_their_list_twins(diamond):
    pairs = [(diamond.iter_nodes, diamond.nodes), (diamond.iter_roots, diamond.roots),
             (diamond.iter_leaves, diamond.leaves),
             (diamond.iter_topological_sort, diamond.topological_sort),
             (lambda: diamond.iter_descendants("a"), lambda: diamond.descendants("a")),
             (lambda: diamond.iter_ancestors("d"), lambda: diamond.ancestors("d")),
             (diamond.iter_topological_levels, diamond.topological_levels)]
    for make_iter, make_list in pairs:
        assert list(make_iter()) == make_list()


def test_level_iterator():
    dag = DAG()
    levels = dag.iter_topological_levels()
    assert type(levels) is NodeLevelIterator and len(levels) == 0 and list(levels) == []
    dag.add_nodes(["a", "b", "c"])
    dag.add_edge("a", "c")
    levels = dag.iter_topological_levels()
    assert [names(level) for level in [next(levels)]] == [["a", "b"]]
    assert repr(levels) == "NodeLevelIterator(total_levels=2, remaining=1)"
    assert [names(level) for level in levels.collect()] == [["c"]]
    assert levels.collect() == []
