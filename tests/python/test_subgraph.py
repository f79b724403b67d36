"""Induced subgraphs by node list and by hop distance: nodes, edges, shared payloads, errors."""

import gc
import json
import sys

import pytest

from conftest import snapshot
from torvex import DAG, DuplicateNodeError, NodeNotFoundError, StaleNodeRefError


class Payload:
    pass


@pytest.fixture
def chain():
    """a -> b -> c -> d, the first edge weighted and labelled, payloads on a and b."""
    dag = DAG()
    dag.add_nodes([("a", Payload(), Payload()), ("b", Payload()), "c", "d"])
    dag.add_edge("a", "b", 2.5, "first")
    dag.add_edges([("b", "c"), ("c", "d")])
    return dag


def edge_records(dag):
    """(from, to, weight, label) per edge, in edge slot order."""
    return [(e["from"], e["to"], e["weight"], e.get("label"))
            for e in json.loads(dag.to_json())["edges"]]


def test_subgraph_keeps_the_given_order_and_the_edges_between(chain):
    part = chain.subgraph(["c", "a"])
    assert part.node_names() == ["c", "a"] and part.edges() == []
    part = chain.subgraph(("b", chain.node_ref("a")))
    assert part.node_names() == ["b", "a"]
    assert edge_records(part) == edge_records(chain)[:1]
    # A new graph: its own slots, generation counted from its own insertions, empty cache.
    assert [n.index for n in part.nodes()] == [0, 1] and part.generation == 3
    assert part.cache_info() == {"hits": 0, "misses": 0, "size": 0}


def test_parallel_edges_stay_parallel():
    dag = DAG()
    dag.add_nodes(["x", "y", "z"])
    dag.add_edges([("x", "y", 1.0, "one"), ("x", "z"), ("x", "y", 2.0, "two")])
    part = dag.subgraph(["y", "x"])
    assert part.edges() == [("x", "y"), ("x", "y")]
    assert edge_records(part) == [r for r in edge_records(dag) if r[1] != "z"]


def test_copies_share_payload_objects(chain):
    payload, metadata = chain.get_payload("a"), chain.get_metadata("a")
    gc.collect()
    before = sys.getrefcount(payload), sys.getrefcount(metadata)
    parts = [chain.subgraph(["a", "b"]), chain.subgraph_by_depth("b", 1, "backward")]
    for part in parts:
        assert part.get_payload("a") is payload and part.get_metadata("a") is metadata
        assert part.get_payload("b") is chain.get_payload("b")
    assert (sys.getrefcount(payload), sys.getrefcount(metadata)) == (before[0] + 2, before[1] + 2)
    del parts, part
    gc.collect()
    assert (sys.getrefcount(payload), sys.getrefcount(metadata)) == before


@pytest.mark.parametrize("nodes, error, text", [
    (["a", "a"], DuplicateNodeError, "a"),
    (["a", "x", "y"], NodeNotFoundError, "x"),
    ("ab", TypeError, "argument 'nodes': Can't extract `str` to `Vec`"),
    ([1], TypeError, "argument 'nodes': expected str or NodeRef for node identifier"),
    ({"a": 1}, TypeError, "argument 'nodes': 'dict' object cannot be converted to 'Sequence'"),
])
def test_subgraph_errors_change_nothing(chain, nodes, error, text):
    before = snapshot(chain)
    payload = chain.get_payload("a")
    gc.collect()
    count = sys.getrefcount(payload)
    with pytest.raises(error) as info:
        chain.subgraph(nodes)
    assert str(info.value) == text
    del info
    gc.collect()
    assert snapshot(chain) == before and sys.getrefcount(payload) == count


def test_stale_and_removed_refs(chain):
    old = chain.node_ref("d")
    chain.remove_node("d")
    with pytest.raises(NodeNotFoundError, match="^d$"):
        chain.subgraph([old])
    with pytest.raises(NodeNotFoundError, match="^d$"):
        chain.subgraph_by_depth(old, 1)
    chain.add_node("d")
    with pytest.raises(StaleNodeRefError, match="^d$"):
        chain.subgraph(["x", old])
    with pytest.raises(StaleNodeRefError, match="^d$"):
        chain.subgraph_by_depth(old, 1)


# The search itself is tested in the core; these check the direction words and the copy.
@pytest.mark.parametrize("args, nodes", [
    (("b", 1, "forward"), {"b", "c"}),
    (("b", 1, "backward"), {"a", "b"}),
    (("b", 1), {"a", "b", "c"}),
    (("b", 1, "both"), {"a", "b", "c"}),
    (("b", 0), {"b"}),
])
def test_by_depth_on_a_chain(chain, args, nodes):
    part = chain.subgraph_by_depth(*args)
    assert set(part.node_names()) == nodes and len(part) == len(nodes)
    assert sorted(edge_records(part)) == sorted(r for r in edge_records(chain)
                                                if r[0] in nodes and r[1] in nodes)
    keywords = dict(zip(["root", "depth", "direction"], args))
    assert set(chain.subgraph_by_depth(**keywords).node_names()) == nodes


@pytest.mark.parametrize("args, error, text", [
    (("zz", 1, "Forward"), ValueError,
     "Invalid direction: 'Forward'. Expected 'forward', 'backward', or 'both'."),
    ((5, 1, "Forward"), TypeError,
     "argument 'root': expected str or NodeRef for node identifier"),
    (("zz", 1.5, "Forward"), TypeError, "argument 'depth': "),
    (("b", -1), OverflowError, "can't convert negative int to unsigned"),
    (("b", 1, None), TypeError,
     "argument 'direction': 'NoneType' object cannot be converted to 'PyString'"),
    (("zz", 1), NodeNotFoundError, "zz"),
])
def test_by_depth_argument_checks_in_order(chain, args, error, text):
    before = snapshot(chain)
    with pytest.raises(error) as info:
        chain.subgraph_by_depth(*args)
    assert type(info.value) is error and str(info.value).startswith(text)
    assert snapshot(chain) == before
