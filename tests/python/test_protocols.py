"""Container behaviour of DAG: length, truth, repr, iteration, membership and items."""

import pytest

from conftest import snapshot
from torvex import DAG, NodeNotFoundError


def test_empty_graph():
    dag = DAG()
    assert len(dag) == 0 and not dag and repr(dag) == "DAG(nodes=0, edges=0)"
    assert list(dag) == [] and dag.node_names() == [] and dag.edges() == []
    assert dag.generation == 0 and dag.cache_info() == {"hits": 0, "misses": 0, "size": 0}


def test_listing_follows_slots(diamond):
    assert len(diamond) == 4 and diamond and repr(diamond) == "DAG(nodes=4, edges=4)"
    diamond.remove_node("b")
    diamond.add_node("e")
    assert diamond.node_names() == ["a", "e", "c", "d"] == list(diamond)
    # b -> d (slot 2) is freed first, then a -> b (slot 0), which is reused first.
    assert diamond.edges() == [("a", "c"), ("c", "d")]
    diamond.add_edge("a", "e")
    assert diamond.edges() == [("a", "e"), ("a", "c"), ("c", "d")]


def test_iteration_is_a_snapshot():
    dag = DAG()
    dag.add_nodes(["a", "b"])
    seen = []
    for name in dag:
        seen.append(name)
        dag.add_node(name + "'")  # the iterator holds no borrow
    assert seen == ["a", "b"] and len(dag) == 4


def test_membership_takes_names_only():
    dag = DAG()
    ref = dag.add_node("a")
    assert "a" in dag and "b" not in dag
    for key in (ref, 1):
        with pytest.raises(TypeError, match="^argument 'name': '.*' object cannot be converted "
                                            "to 'PyString'$"):
            key in dag


def test_items_read_and_replace_payloads():
    dag = DAG()
    payload = object()
    dag.add_node("a", payload, "meta")
    dag.add_node("b")
    dag.topological_sort()
    assert dag["a"] is payload and dag["b"] is None
    generation = dag.generation
    dag["a"] = None
    dag["b"] = [1]
    assert dag["a"] is None and dag["b"] == [1] and dag.get_metadata("a") == "meta"
    assert dag.generation == generation and dag.cache_info()["size"] == 1
    with pytest.raises(NodeNotFoundError, match="^zz$"):
        dag["zz"]
    before = snapshot(dag)
    with pytest.raises(NodeNotFoundError, match="^zz$"):
        dag["zz"] = 1
    with pytest.raises(TypeError):
        dag[dag.node_ref("a")] = 1
    with pytest.raises(NotImplementedError, match="^can't delete item$"):
        del dag["a"]
    assert snapshot(dag) == before
