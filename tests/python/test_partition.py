"""Partitioning into k parts: the three strategies, their result objects and arguments."""

import math
import time

import pytest

from conftest import snapshot
from test_concurrency import chain, first_conflict, in_background
from torvex import DAG, NodeNotFoundError, PartitionInfo, PartitionResult

STRATEGIES = [
    lambda d, k, costs=None: d.partition_level_based(k, costs),
    lambda d, k, costs=None: d.partition_balanced(k, costs),
    lambda d, k, costs=None: d.partition_communication_min(k, costs),
]


def dag_with(nodes, edges=()):
    dag = DAG()
    dag.add_nodes(list(nodes))
    dag.add_edges(list(edges))
    return dag


def abcd():
    return dag_with("abcd", [("a", "b"), ("b", "c"), ("c", "d")])


def parts(result):
    return [p.node_names for p in result.partitions]


def test_strategies_through_python():
    chain4 = abcd()
    result = chain4.partition_balanced(2)
    assert parts(result) == [["a", "b"], ["c", "d"]]
    assert repr(result.partitions[0]) == "PartitionInfo(id=0, nodes=2, cost=2.00)"
    assert result.partition_order == [[0], [1]] and result.cross_edge_count == 1
    assert [(p.incoming_cross_edges, p.outgoing_cross_edges) for p in result.partitions] == [
        (0, 1), (1, 0)]
    assert repr(result) == "PartitionResult(partitions=2, cross_edges=1)"
    assert parts(chain4.partition_balanced(2, {"ghost": 100.0, "a": 3})) == [["a"], ["b", "c", "d"]]

    fork = dag_with("xyz", [("x", "y"), ("x", "z")])
    moved = fork.partition_communication_min(2, max_imbalance=1)  # an int is taken as 1.0
    assert parts(moved) == [["x", "y"], ["z"]]
    # max_iterations=0: no pass, whatever the limit
    assert parts(fork.partition_communication_min(2, None, 0, 1.0)) == [["x"], ["y", "z"]]


def test_empty_graph_and_huge_k():
    for strategy in STRATEGIES:
        result = strategy(DAG(), 3)
        assert repr(result) == "PartitionResult(partitions=0, cross_edges=0)"
        assert result.partitions == [] and result.partition_order == []
    dag = dag_with([f"n{i}" for i in range(2000)])
    started = time.monotonic()
    for strategy in STRATEGIES:
        assert len(strategy(dag, 2**64 - 1).partitions) in (1, 2000)
    assert time.monotonic() - started < 2.0  # nothing allocated per requested part


@pytest.mark.parametrize("cost, text", [
    (math.nan, "NaN"), (math.inf, "inf"), (-math.inf, "-inf"), (3, "3.00"), (2.5, "2.50"),
    (8 / 3, "2.67"), (-1 / 3, "-0.33"), (0.125, "0.12"), (1e20, "100000000000000000000.00"),
])
def test_cost_text_in_reprs(cost, text):
    info = dag_with("a").partition_level_based(1, {"a": cost}).partitions[0]
    assert repr(info) == f"PartitionInfo(id=0, nodes=1, cost={text})"


def test_result_objects_are_frozen_snapshots():
    dag = abcd()
    result = dag.partition_balanced(2)
    assert result.partitions is result.partitions
    info = result.partitions[0]
    assert info.node_names == info.node_names and info.node_names is not info.node_names
    assert result.partition_order[0] is not result.partition_order[0]
    info.node_names.append("zz")
    result.partition_order[0].append(9)
    assert info.node_names == ["a", "b"] and result.partition_order == [[0], [1]]
    result.partitions.append(None)  # the repr reads the list as it is now
    assert repr(result) == "PartitionResult(partitions=3, cross_edges=1)"
    for obj, cls, attrs in [
            (info, PartitionInfo, ["partition_id", "node_names", "total_cost",
                                   "incoming_cross_edges", "outgoing_cross_edges"]),
            (result, PartitionResult, ["partitions", "cross_edge_count", "partition_order"])]:
        with pytest.raises(TypeError, match=f"^No constructor defined for {cls.__name__}$"):
            cls()
        assert [a for a in vars(cls) if not a.startswith("__")] == attrs  # registration order
        assert cls.__doc__ is None and all(getattr(cls, a).__doc__ is None for a in attrs)
        for attr in attrs:
            with pytest.raises(AttributeError):
                setattr(obj, attr, None)
            with pytest.raises(AttributeError):
                delattr(obj, attr)
    dag.remove_node("d")
    assert info.node_names == ["a", "b"] and result.partitions[1].node_names == ["c", "d"]


@pytest.mark.parametrize("call, error, text", [
    (lambda d: d.partition_balanced(), TypeError,
     r"^DAG.partition_balanced\(\) missing 1 required positional argument: 'k'$"),
    (lambda d: d.partition_communication_min(-1), OverflowError, "^can't convert negative int"),
    (lambda d: d.partition_balanced(2**64), OverflowError, "too big"),
    (lambda d: d.partition_balanced(None), TypeError, "^argument 'k': "),
    (lambda d: d.partition_balanced(2.0), TypeError, "^argument 'k': "),
    (lambda d: d.partition_level_based(2, [1]), TypeError,
     "^argument 'costs': 'list' object cannot be converted to 'PyDict'$"),
    (lambda d: d.partition_communication_min(2, max_iterations=None), TypeError,
     "^argument 'max_iterations': "),
    (lambda d: d.partition_communication_min(2, max_iterations=-1), OverflowError, "negative"),
    (lambda d: d.partition_communication_min(2, max_imbalance=None), TypeError,
     "^argument 'max_imbalance': "),
    (lambda d: d.partition_communication_min(2, max_imbalance="0.3"), TypeError,
     "^argument 'max_imbalance': must be real number, not str$"),
    # Arguments are converted in parameter order.
    (lambda d: d.partition_communication_min(2, [], None, None), TypeError, "^argument 'costs'"),
    (lambda d: d.partition_communication_min(2, None, 1, 0.3, 5), TypeError,
     r"takes from 1 to 4 positional arguments but 5 were given$"),
])
def test_argument_errors_change_nothing(diamond, call, error, text):
    before = snapshot(diamond)
    with pytest.raises(error, match=text):
        call(diamond)
    assert snapshot(diamond) == before


def test_signatures():
    assert [getattr(DAG, m).__text_signature__ for m in [
        "partition_level_based", "partition_balanced", "partition_communication_min"]] == [
        "($self, k, costs=None)"] * 2 + ["($self, k, costs=None, max_iterations=10, "
                                         "max_imbalance=0.3)"]
    assert DAG.partition_balanced.__doc__.startswith(
        "Partition the DAG with balanced cost per partition.\n\nGreedily assigns")


@pytest.mark.parametrize("strategy", STRATEGIES)
def test_strategies_release_the_lock_and_keep_the_borrow(strategy):
    dag = chain(100_000)
    thread, stop, errors = in_background(lambda: strategy(dag, 4))
    try:
        message, _ = first_conflict(lambda: dag.remove_node("missing"), NodeNotFoundError)
    finally:
        stop.set()
        thread.join()
    assert not errors and message == "Already borrowed"
