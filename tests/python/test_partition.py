"""Partitioning into k parts: the three strategies, their result objects and arguments."""

import math
import random
import time

import pytest

from conftest import snapshot
from torvex import DAG, PartitionInfo, PartitionResult

STRATEGIES = [
    lambda d, k, costs=None: d.partition_level_based(k, costs),
    lambda d, k, costs=None: d.partition_balanced(k, costs),
    lambda d, k, costs=None: d.partition_communication_min(k, costs),
    lambda d, k, costs=None: d.partition_communication_min(k, costs, 50, 1.0),
]


def dag_with(nodes, edges=()):
    dag = DAG()
    dag.add_nodes(list(nodes))
    dag.add_edges(list(edges))
    return dag



def chain_of(n):
    names = [f"n{i}" for i in range(n)]
    return dag_with(names, zip(names, names[1:]))


def parts(result):
    return [p.node_names for p in result.partitions]


def check_partition(dag, result, costs):
    """Every node in one part, ids by position, edges never run back, counters and waves agree."""
    part_of = {}
    for position, info in enumerate(result.partitions):
        assert info.partition_id == position and info.node_names
        for name in info.node_names:
            assert name not in part_of
            part_of[name] = position
        expected = sum(costs.get(name, 1.0) for name in info.node_names)
        assert math.isclose(info.total_cost, expected, abs_tol=1e-9)
    assert sorted(part_of) == sorted(dag.node_names())
    cut = [(part_of[a], part_of[b]) for a, b in dag.edges() if part_of[a] != part_of[b]]
    assert all(a < b for a, b in cut)  # every edge from a lower to a higher or equal part
    assert result.cross_edge_count == len(cut)
    for position, info in enumerate(result.partitions):
        assert info.outgoing_cross_edges == sum(a == position for a, _ in cut)
        assert info.incoming_cross_edges == sum(b == position for _, b in cut)
    wave_of = {p: w for w, wave in enumerate(result.partition_order) for p in wave}
    assert sorted(wave_of) == list(range(len(result.partitions)))
    assert sum(map(len, result.partition_order)) == len(result.partitions)
    assert all(wave == sorted(wave) for wave in result.partition_order)
    assert all(wave_of[a] < wave_of[b] for a, b in cut)


@pytest.mark.parametrize("seed", range(12))
def test_random_graphs_keep_the_invariants(seed):
    rng = random.Random(seed)
    n = rng.randrange(1, 40)
    names = [f"v{i}" for i in range(n)]
    rng.shuffle(names)  # name order and insertion order differ from the topological order
    dag = dag_with(names)
    order = sorted(names, key=lambda _: rng.random())
    edges = [(order[i], order[j]) for i in range(n) for j in range(i + 1, n)
             if rng.random() < 0.15]
    dag.add_edges(edges + edges[: rng.randrange(3)])  # a few parallel edges
    costs = {name: rng.choice([0.0, 0.5, 1.0, 3.0]) for name in names if rng.random() < 0.6}
    for k in (0, 1, 2, 3, 7, n + 5):
        for strategy in STRATEGIES:
            check_partition(dag, strategy(dag, k, costs), costs)


def test_worked_examples():
    chain = dag_with("abcd", [("a", "b"), ("b", "c"), ("c", "d")])
    result = chain.partition_balanced(2)
    assert parts(result) == [["a", "b"], ["c", "d"]]
    assert repr(result.partitions[0]) == "PartitionInfo(id=0, nodes=2, cost=2.00)"
    assert result.partition_order == [[0], [1]] and result.cross_edge_count == 1
    assert repr(result) == "PartitionResult(partitions=2, cross_edges=1)"
    assert parts(chain.partition_level_based(0)) == parts(chain.partition_level_based(1)) == [
        list("abcd")]
    assert [len(p) for p in parts(chain_of(5).partition_level_based(4))] == [2, 2, 1]
    assert [len(p) for p in parts(chain_of(7).partition_level_based(3))] == [3, 3, 1]
    zero = chain.partition_balanced(3, {name: 0.0 for name in "abcd"})
    assert parts(zero) == [list("abcd")] and zero.partitions[0].partition_id == 0
    assert parts(chain.partition_balanced(10)) == [["a"], ["b"], ["c"], ["d"]]

    fork = dag_with("xyz", [("x", "y"), ("x", "z")])
    assert parts(fork.partition_communication_min(2)) == [["x"], ["y", "z"]]
    moved = fork.partition_communication_min(2, max_imbalance=1)  # an int is taken as 1.0
    assert parts(moved) == [["x", "y"], ["z"]] and moved.cross_edge_count == 1
    assert [p.total_cost for p in moved.partitions] == [2.0, 1.0]
    assert parts(fork.partition_communication_min(2, None, 0, 1.0)) == [["x"], ["y", "z"]]
    assert parts(fork.partition_communication_min(1, max_imbalance=1.0)) == [list("xyz")]


def test_empty_graph_and_huge_k():
    for strategy in STRATEGIES:
        result = strategy(DAG(), 3)
        assert repr(result) == "PartitionResult(partitions=0, cross_edges=0)"
        assert result.partitions == [] and result.partition_order == []
    dag = dag_with([f"n{i}" for i in range(2000)])
    started = time.monotonic()
    for strategy in STRATEGIES:
        check_partition(dag, strategy(dag, 2**64 - 1), {})
    assert time.monotonic() - started < 2.0  # nothing allocated per requested part


def test_odd_costs_and_imbalances():
    chain = dag_with("abcd", [("a", "b"), ("b", "c"), ("c", "d")])
    result = chain.partition_balanced(2, {"a": math.nan})
    assert parts(result) == [list("abcd")]  # a NaN target never closes a part
    assert repr(result.partitions[0]) == "PartitionInfo(id=0, nodes=4, cost=NaN)"
    single = dag_with("a")
    texts = [repr(single.partition_level_based(1, {"a": c}).partitions[0]) for c in (
        math.inf, -math.inf, 3, 2.5, 8 / 3, -1 / 3, 1e20)]
    assert [t.split("cost=")[1] for t in texts] == [
        "inf)", "-inf)", "3.00)", "2.50)", "2.67)", "-0.33)", "100000000000000000000.00)"]
    fork = dag_with("xyz", [("x", "y"), ("x", "z")])
    assert parts(fork.partition_communication_min(2, max_imbalance=math.nan)) == [
        ["x", "y"], ["z"]]  # a NaN limit skips no candidate
    assert parts(fork.partition_communication_min(2, max_imbalance=-5.0)) == [["x"], ["y", "z"]]
    unit = parts(chain.partition_balanced(2))
    assert parts(chain.partition_balanced(2, {"ghost": 100.0})) == unit


def test_result_objects_are_frozen_snapshots():
    dag = dag_with("abcd", [("a", "b"), ("b", "c"), ("c", "d")])
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
    for obj, attr in [(result, "partitions"), (result, "cross_edge_count"),
                      (result, "partition_order"), (info, "node_names"), (info, "total_cost"),
                      (info, "partition_id"), (info, "incoming_cross_edges")]:
        with pytest.raises(AttributeError):
            setattr(obj, attr, None)
    for cls in (PartitionInfo, PartitionResult):
        with pytest.raises(TypeError, match=f"^No constructor defined for {cls.__name__}$"):
            cls()
    dag.remove_node("d")
    assert info.node_names == ["a", "b"] and result.partitions[1].node_names == ["c", "d"]


@pytest.mark.parametrize("call, error, text", [
    (lambda d: d.partition_balanced(), TypeError,
     r"^DAG.partition_balanced\(\) missing 1 required positional argument: 'k'$"),
    (lambda d: d.partition_level_based(-1), OverflowError, "^can't convert negative int"),
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
     "^argument 'max_imbalance': "),
    (lambda d: d.partition_communication_min(2, None, 1, 0.3, 5), TypeError,
     r"takes from 1 to 4 positional arguments but 5 were given$"),
])
def test_argument_errors_change_nothing(diamond, call, error, text):
    before = snapshot(diamond)
    with pytest.raises(error, match=text):
        call(diamond)
    assert snapshot(diamond) == before


def test_signatures():
    assert DAG.partition_level_based.__text_signature__ == "($self, k, costs=None)"
    assert DAG.partition_communication_min.__text_signature__ == (
        "($self, k, costs=None, max_iterations=10, max_imbalance=0.3)")
    assert DAG.partition_balanced.__doc__.startswith(
        "Partition the DAG with balanced cost per partition.\n\nGreedily assigns")
    assert PartitionResult.__doc__ is None and PartitionInfo.__doc__ is None
