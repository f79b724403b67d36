"""Every method once through the binding, on a small graph: argument forms, result types and the
result objects. The algorithms behind them are proved in the core suite."""

import gc
import math
import re
import sys

import pytest

import torvex._internal as internal
from conftest import snapshot
from torvex import (DAG, CycleError, ExecutionPlan, ExecutionStep, GraphDiff, GraphStats, NodeId,
                    NodeIterator, NodeLevelIterator, NodeNotFoundError, NodeRef, PartitionInfo,
                    PartitionResult, ReachabilityIndex, ScheduledNode, StaleNodeRefError)


def diamond_graph():
    """a -> b (2.0, label x), a -> c, b -> d, c -> d; a has payload "pa" and metadata "ma"."""
    g = DAG()
    g.add_nodes([("a", "pa", "ma"), "b", "c", "d"])
    g.add_edges([("a", "b", 2.0, "x"), ("a", "c"), ("b", "d"), ("c", "d")])
    return g


def plain(value):
    """Results as plain data: NodeIds by name, handles as (name, epoch), graphs as (names,
    edges), iterators and result objects by what they hold."""
    if isinstance(value, NodeId):
        return value.name
    if isinstance(value, NodeRef):
        return value.name, value.epoch
    if isinstance(value, (list, tuple)):
        return type(value)(plain(v) for v in value)
    if isinstance(value, dict):
        return {k: plain(v) for k, v in value.items()}
    if isinstance(value, DAG):
        return value.node_names(), value.edges()
    if isinstance(value, (NodeIterator, NodeLevelIterator)):
        return type(value).__name__, plain(value.collect())
    if type(value).__module__ == "torvex._internal" and not isinstance(value, ReachabilityIndex):
        return {a: plain(getattr(value, a)) for a in dir(type(value))
                if not a.startswith("_") and a != "to_dict"}
    return value


ABCD = ["a", "b", "c", "d"]
EDGES = [("a", "b"), ("a", "c"), ("b", "d"), ("c", "d")]
COSTS = "{'b': 2, 'c': Five()}"  # any float-convertible value; unknown names are ignored
PLAN = {"critical_path": ["a", "c", "d"], "estimated_makespan": 7.0, "max_parallelism": 2,
        "total_nodes": 4, "steps": [
            {"step_index": 0, "nodes": [{"node": "a", "start_time": 0.0, "duration": 1.0}]},
            {"step_index": 1, "nodes": [{"node": "b", "start_time": 1.0, "duration": 2.0},
                                        {"node": "c", "start_time": 1.0, "duration": 5.0}]},
            {"step_index": 2, "nodes": [{"node": "d", "start_time": 6.0, "duration": 1.0}]}]}


def partition(names, cost, incoming, outgoing, pid):
    return {"partition_id": pid, "node_names": names, "total_cost": cost,
            "incoming_cross_edges": incoming, "outgoing_cross_edges": outgoing}


SPLIT = {"cross_edge_count": 2, "partition_order": [[0], [1]],
         "partitions": [partition(["a", "b", "c"], 3.0, 0, 2, 0), partition(["d"], 1.0, 2, 0, 1)]}

# expression on g (the diamond): its result, as plain data, or the exception it raises.
SMOKE = [
    # the store
    ("g.add_node('e', 1, 2)", ("e", 4)),
    ("g.add_nodes(['e', ('f', 1), ('g', 1, 2)])", [("e", 4), ("f", 5), ("g", 6)]),
    ("g.add_edge('b', 'c', 3, 'l')", None),
    ("g.add_edges([('b', 'c'), (g.node_ref('b'), 'c', 1.5), ('b', 'c', 1, 'l')])", None),
    ("g.add_edge('d', 'a')", CycleError),
    ("g.remove_node('b') or g.edges()", [("a", "c"), ("c", "d")]),
    ("g.remove_edge('a', 'b') or g.edges()", EDGES[1:]),
    ("g.node_ref('a')", ("a", 0)),
    ("g.builder()", ImportError),  # no builder module in the package
    ("g.generation", 8),
    ("g.roots() and g.roots() and g.cache_info()", {"hits": 1, "misses": 1, "size": 1}),
    ("g.roots() and g.clear_cache() or g.cache_info()", {"hits": 0, "misses": 1, "size": 0}),
    ("(g.has_node('a'), g.has_node('z'), g.has_edge('a', 'b'), g.has_edge('b', 'a'))",
     (True, False, True, False)),
    ("(g.node_count(), g.edge_count(), len(g), bool(g), bool(DAG()), repr(g))",
     (4, 4, 4, True, False, "DAG(nodes=4, edges=4)")),
    ("(g.get_payload('a'), g.get_metadata('a'), g['a'], g['b'])", ("pa", "ma", "pa", None)),
    ("(g.set_payload('a', 1), g.set_metadata('a', 2), g.__setitem__('b', 3))", (None,) * 3),
    ("(list(g), g.node_names(), 'a' in g, 'z' in g)", (ABCD, ABCD, True, False)),
    ("g.edges()", EDGES),
    ("g.nodes()", ABCD),
    ("[(n.name, n.index) for n in g.nodes()]", [("a", 0), ("b", 1), ("c", 2), ("d", 3)]),
    ("(g.nodes()[0] == g.nodes()[0], hash(g.nodes()[0]) == hash(g.nodes()[0]))", (True, True)),
    ("(g.node_ref('a') == g.node_ref('a'), hash(g.node_ref('a')) == hash(g.node_ref('a')))",
     (True, True)),
    # neighbours and reach (newest edge first, breadth first)
    ("(g.successors('a'), g.predecessors('d'))", (["c", "b"], ["c", "b"])),
    ("(g.in_degree('d'), g.out_degree('a'))", (2, 2)),
    ("(g.ancestors('d'), g.descendants(g.node_ref('a')))", (["c", "b", "a"], ["c", "b", "d"])),
    ("(g.iter_ancestors('d'), g.iter_descendants('a'))",
     (("NodeIterator", ["c", "b", "a"]), ("NodeIterator", ["c", "b", "d"]))),
    ("(g.roots(), g.leaves(), g.iter_roots(), g.iter_leaves(), g.iter_nodes())",
     (["a"], ["d"], ("NodeIterator", ["a"]), ("NodeIterator", ["d"]), ("NodeIterator", ABCD))),
    ("(g.iter_nodes().collect(), g.iter_topological_levels().collect())",
     (ABCD, [["a"], ["b", "c"], ["d"]])),
    ("g.validate()", True),
    # orders
    ("(g.topological_sort(), g.topological_sort_dfs(), g.iter_topological_sort())",
     (ABCD, ["a", "c", "b", "d"], ("NodeIterator", ABCD))),
    ("(g.topological_levels(), g.iter_topological_levels())",
     ([["a"], ["b", "c"], ["d"]], ("NodeLevelIterator", [["a"], ["b", "c"], ["d"]]))),
    ("g.all_topological_orderings()", [ABCD, ["a", "c", "b", "d"]]),
    ("g.all_topological_orderings(limit=1)", [ABCD]),
    ("g.topological_sort_priority({'c': 5})", ["a", "c", "b", "d"]),
    ("g.topological_levels_priority({'c': 5})", [["a"], ["c", "b"], ["d"]]),
    # matching
    ("(g.nodes_matching_regex('[bc]'), g.nodes_matching_glob(pattern='?'))", (["b", "c"], ABCD)),
    # scheduling
    (f"g.bottom_levels({COSTS})", {"a": 7.0, "b": 3.0, "c": 6.0, "d": 1.0}),
    (f"g.critical_path({COSTS})", (["a", "c", "d"], 7.0)),
    (f"g.execution_plan({COSTS})", PLAN),
    (f"g.execution_plan_constrained(1, {COSTS}).steps[2].nodes[0]",
     {"node": "b", "start_time": 6.0, "duration": 2.0}),
    # paths
    ("g.all_paths('a', 'd')", [["a", "b", "d"], ["a", "c", "d"]]),
    ("(g.shortest_path('a', 'd'), g.shortest_path('d', 'a'))", (["a", "c", "d"], None)),
    ("(g.longest_path('a', 'd'), g.longest_path('a', 'd', type('Costs', (dict,), {})(c=5)), "
     "g.longest_path('b', 'c'), g.all_paths('d', 'a'))",
     ((["a", "b", "d"], 3.0), (["a", "c", "d"], 7.0), None, [])),
    # partitions
    ("g.partition_level_based(2)", SPLIT),
    ("g.partition_communication_min(2, None, 10, 0.3)", SPLIT),
    ("g.partition_balanced(2, {'a': 3})",
     dict(SPLIT, partitions=[partition(["a"], 3.0, 0, 2, 0), partition(["b", "c", "d"], 3.0, 2, 0, 1)])),
    # reachability and change propagation
    ("g.is_ancestor('a', 'd')", True),
    ("(lambda i: (i.can_reach('a', 'd'), i.reachable_from('a'), i.ancestors_of('d'), "
     "i.node_count()))(g.build_reachability_index())", (True, ["b", "c", "d"], ["a", "b", "c"], 4)),
    ("(g.dirty_set(['b']), g.change_provenance(['b']))", (["b", "d"], {"b": ["b"], "d": ["b"]})),
    ("[type(getattr(g.stats(), f)).__name__ for f in ('density', 'is_weakly_connected', 'width')]",
     ["float", "bool", "int"]),
    ("g.stats().to_dict()", {
        "node_count": 4, "edge_count": 4, "depth": 3, "width": 2, "density": 1 / 3,
        "longest_path_length": 2, "avg_in_degree": 1.0, "avg_out_degree": 1.0, "max_in_degree": 2,
        "max_out_degree": 2, "root_count": 1, "leaf_count": 1, "is_weakly_connected": True,
        "component_count": 1}),
    # copies and transforms
    ("g.subgraph(['d', 'b'])", (["d", "b"], [("b", "d")])),
    ("g.subgraph_by_depth('b', 1, 'backward')", (["b", "a"], [("a", "b")])),
    ("(g.reverse(), g.snapshot(), g.transitive_reduction())",
     ((ABCD, [(b, a) for a, b in EDGES]), (ABCD, EDGES), (ABCD, EDGES))),
    ("g.transitive_closure()", (ABCD, EDGES + [("a", "d")])),
    ("g.dominator_tree('a')", [("a", "a"), ("b", "a"), ("c", "a"), ("d", "a")]),
    ("g.filter(lambda name, payload: name != 'b')", (["a", "c", "d"], [("a", "c"), ("c", "d")])),
    ("g.collapse(['b', 'c'], 'bc', 1)", (["a", "d", "bc"], [("a", "bc"), ("bc", "d")])),
    ("g.collapse(['a', 'd'], 'ad')", CycleError),
    ("g.merge(g, 'keep_second', None)", (ABCD, EDGES)),
    ("g.diff(g.subgraph(['a', 'b'])).to_dict()", {
        "added_nodes": [], "removed_nodes": ["c", "d"], "changed_nodes": [], "added_edges": [],
        "removed_edges": [("a", "c"), ("b", "d"), ("c", "d")], "changed_edges": []}),
    # file forms (exact texts and bytes are golden files of the serialization tests)
    ("DAG.from_json(g.to_json()).edges()", EDGES),
    ("DAG.from_bytes(g.to_bytes()).to_bytes() == g.to_bytes()", True),
    ("DAG.load(g.save(PATH) or PATH).edges()", EDGES),
    ("g.to_mermaid().splitlines()[5]", '    a -->|"x"| b'),
    ("g.to_dot().splitlines()[5]", '    "a" -> "b" [label="x"];'),
]


class Five:
    def __float__(self):
        return 5.0


@pytest.mark.parametrize("expression, expected", SMOKE, ids=[e for e, _ in SMOKE])
def test_every_method(expression, expected, tmp_path):
    namespace = {"g": diamond_graph(), "DAG": DAG, "Five": Five, "PATH": str(tmp_path / "g.bin")}
    if isinstance(expected, type) and issubclass(expected, Exception):
        with pytest.raises(expected):
            eval(expression, namespace)
    else:
        assert plain(eval(expression, namespace)) == expected


def test_the_table_calls_every_method():
    called = set(re.findall(r"(\w+)\(", " ".join(e for e, _ in SMOKE)))
    methods = {f"{name}.{m}" for name in internal.__all__
               for m, v in vars(getattr(internal, name)).items()
               if callable(v) and not m.startswith("_")}
    assert sorted(m for m in methods if m.split(".")[1] not in called) == []


# -- result objects -------------------------------------------------------------------------

def results():
    """One of each result class, made from a fresh diamond."""
    g = diamond_graph()
    plan = g.execution_plan()
    split = g.partition_balanced(2)
    return g, {GraphStats: g.stats(), GraphDiff: g.diff(DAG()), PartitionResult: split,
               PartitionInfo: split.partitions[0], ExecutionPlan: plan,
               ExecutionStep: plan.steps[0], ScheduledNode: plan.steps[0].nodes[0],
               NodeId: g.nodes()[0], NodeRef: g.node_ref("a")}


@pytest.mark.parametrize("cls", [GraphStats, GraphDiff, PartitionResult, PartitionInfo,
                                 ExecutionPlan, ExecutionStep, ScheduledNode, NodeId, NodeRef])
def test_result_objects_are_frozen_snapshots(cls):
    g, made = results()
    obj = made[cls]
    attrs = [a for a, v in vars(cls).items() if not a.startswith("_") and not callable(v)]
    before = {a: plain(getattr(obj, a)) for a in attrs}
    for attr in attrs:
        with pytest.raises(AttributeError):
            setattr(obj, attr, None)
        with pytest.raises(AttributeError):
            delattr(obj, attr)
    with pytest.raises(AttributeError):
        obj.extra = 1
    g.remove_node("a")
    g.add_node("a")
    assert {a: plain(getattr(obj, a)) for a in attrs} == before
    if cls in (GraphStats, GraphDiff):
        assert plain(obj.to_dict()) == before


def test_lists_of_results_are_fresh_or_shared_as_documented():
    _, made = results()
    diff, split, plan = made[GraphDiff], made[PartitionResult], made[ExecutionPlan]
    diff.removed_nodes.append("junk")  # a new list on every read
    assert diff.removed_nodes == ABCD and diff.removed_nodes is not diff.removed_nodes
    info = split.partitions[0]
    info.node_names.append("zz")
    split.partition_order[0].append(9)
    assert info.node_names == ["a", "b"] and split.partition_order == [[0], [1]]
    # The lists of objects are kept, and the reprs read them as they are now.
    assert split.partitions is split.partitions and plan.steps is plan.steps
    split.partitions.append(None)
    plan.steps[0].nodes.clear()
    assert repr(split) == "PartitionResult(partitions=3, cross_edges=2)"
    assert repr(plan.steps[0]) == "ExecutionStep(step_index=0, nodes_count=0)"
    node = made[ScheduledNode]
    assert node.node is not node.node and node.node == node.node


@pytest.mark.parametrize("expression, text", [
    ("g.stats()", "GraphStats(nodes=4, edges=4, depth=3, width=2, density=0.3333, "
                  "longest_path=2, roots=1, leaves=1, components=1)"),
    ("DAG().stats()", "GraphStats(nodes=0, edges=0, depth=0, width=0, density=0.0000, "
                      "longest_path=0, roots=0, leaves=0, components=0)"),
    ("g.diff(DAG())", "GraphDiff(added_nodes=0, removed_nodes=4, changed_nodes=0, "
                      "added_edges=0, removed_edges=4, changed_edges=0)"),
    ("g.partition_balanced(2)", "PartitionResult(partitions=2, cross_edges=2)"),
    ("g.partition_balanced(2).partitions[0]", "PartitionInfo(id=0, nodes=2, cost=2.00)"),
    ("g.execution_plan({'a': 1.5})", "ExecutionPlan(steps=3, total_nodes=4, max_parallelism=2, "
                                     "estimated_makespan=3.5)"),
    ("DAG().execution_plan()", "ExecutionPlan(steps=0, total_nodes=0, max_parallelism=0, "
                               "estimated_makespan=0)"),
    ("g.execution_plan().steps[1]", "ExecutionStep(step_index=1, nodes_count=2)"),
    ("g.execution_plan({'a': 1.5}).steps[1].nodes[0]",
     'ScheduledNode(node="b", start_time=1.5, duration=1)'),
    ("g.iter_nodes()", "NodeIterator(total=4, remaining=4)"),
    ("g.iter_topological_levels()", "NodeLevelIterator(total_levels=3, remaining=3)"),
])
def test_reprs(expression, text):
    assert repr(eval(expression, {"g": diamond_graph(), "DAG": DAG})) == text


@pytest.mark.parametrize("cost, partition_text, schedule_text", [
    (math.nan, "NaN", "NaN"), (math.inf, "inf", "inf"), (-math.inf, "-inf", "-inf"),
    (3, "3.00", "3"), (-0.0, "0.00", "-0"), (-1 / 3, "-0.33", "-0.3333333333333333"),
    (0.125, "0.12", "0.125"), (1e20, "100000000000000000000.00", "1" + "0" * 20),
])
def test_numbers_in_reprs(cost, partition_text, schedule_text):
    one = DAG()
    one.add_node("a")
    info = one.partition_level_based(1, {"a": cost}).partitions[0]
    assert repr(info) == f"PartitionInfo(id=0, nodes=1, cost={partition_text})"
    node = one.execution_plan({"a": cost}).steps[0].nodes[0]
    assert repr(node) == f'ScheduledNode(node="a", start_time=0, duration={schedule_text})'


@pytest.mark.parametrize("edge_count, text", [(31, "0.0312"), (93, "0.0938"), (155, "0.1562"),
                                              (156, "0.1573")])
def test_density_rounds_the_exact_value_half_to_even(edge_count, text):
    # 32 nodes: density is edges / 992, so 31, 93 and 155 edges give the ties 1/32, 3/32, 5/32.
    g = DAG()
    g.add_nodes([str(i) for i in range(32)])
    pairs = [(i, j) for i in range(32) for j in range(i + 1, 32)][:edge_count]
    g.add_edges([(str(i), str(j)) for i, j in pairs])
    assert f"density={text}," in repr(g.stats())


def test_iterators_step_and_snapshot():
    g = diamond_graph()
    it, levels = g.iter_nodes(), g.iter_topological_levels()
    g.remove_node("a")
    g.add_node("z")  # iterators hold their own copy, no borrow
    assert iter(it) is it and next(it).name == "a" and next(it).name == "b"
    assert len(it) == 4 and repr(it) == "NodeIterator(total=4, remaining=2)"
    assert plain(it.collect()) == ["c", "d"] and it.collect() == [] and next(it, None) is None
    assert plain(next(levels)) == ["a"] and plain(list(levels)) == [["b", "c"], ["d"]]
    assert len(DAG().iter_topological_levels()) == 0


def test_copies_share_payload_objects_and_keep_the_graph_unchanged():
    g = diamond_graph()
    payload, metadata = object(), object()
    g.set_payload("a", payload)
    g.set_metadata("a", metadata)
    before, counts = snapshot(g), (sys.getrefcount(payload), sys.getrefcount(metadata))
    copies = [g.snapshot(), g.subgraph(["a"]), g.subgraph_by_depth("a", 0), g.reverse(),
              g.transitive_closure(), g.transitive_reduction(), g.filter(lambda n, p: True),
              g.merge(DAG()), g.collapse(["d"], "x")]
    for copy in copies:
        assert copy.get_payload("a") is payload and copy.get_metadata("a") is metadata
    assert sys.getrefcount(payload) == counts[0] + len(copies)
    del copies, copy
    gc.collect()
    assert (sys.getrefcount(payload), sys.getrefcount(metadata)) == counts
    assert snapshot(g) == before and g.cache_info() == {"hits": 0, "misses": 0, "size": 0}


def test_cost_maps_are_copied_safely():
    g = diamond_graph()
    costs = {}

    class Clearing:  # empties the dict while it is being read
        def __float__(self):
            costs.clear()
            return 4.0

    costs.update(a=Clearing(), b=2.0, c=3.0)
    assert g.longest_path("a", "d", costs)[1] == 8.0 and costs == {}
    key, value = "".join(["c", "c"]), 10**20
    before = sys.getrefcount(key), sys.getrefcount(value)
    g.bottom_levels({key: value})
    assert (sys.getrefcount(key), sys.getrefcount(value)) == before


def test_huge_part_and_worker_counts_allocate_nothing_per_part():
    g = diamond_graph()
    for split in (g.partition_level_based, g.partition_balanced, g.partition_communication_min):
        assert len(split(2**64 - 1).partitions) in (1, 3, 4)
    assert plain(g.execution_plan_constrained(2**64 - 1)) == plain(g.execution_plan())


def test_reachability_index_is_a_snapshot_of_names():
    g = diamond_graph()
    old = g.node_ref("d")
    index = g.build_reachability_index()
    g.remove_node("d")
    g.add_node("d")  # a new d that nothing reaches
    g.add_node("e")
    assert index.can_reach("a", old) and index.reachable_from("a") == ["b", "c", "d"]
    with pytest.raises(NodeNotFoundError, match="^e$"):
        index.can_reach("a", "e")
    with pytest.raises(StaleNodeRefError, match="^d$"):
        g.is_ancestor("a", old)


class Raising:
    def __init__(self, where):
        self.where = where

    def __eq__(self, other):
        if self.where == "eq":
            raise ValueError("eq")
        return self

    def __bool__(self):
        raise ValueError("bool")


def test_diff_compares_payloads_with_python_equality():
    def with_payloads(**payloads):
        g = DAG()
        g.add_nodes(list(payloads.items()))
        return g

    nan = float("nan")
    mine = with_payloads(n=None, z=None, same=[1, 2], nan=nan, eq=Raising("eq"),
                         truth=Raising("bool"), absent=1)
    mine.add_node("absent2")
    theirs = with_payloads(n=None, z=0, same=[1, 2], nan=nan, eq=1, truth=1, absent2=None)
    theirs.add_node("absent")
    # A None stored by add_nodes is an object, so it differs from an absent payload; a
    # comparison that raises counts as a change.
    assert mine.diff(theirs).changed_nodes == ["absent", "absent2", "eq", "nan", "truth", "z"]
    # No identity shortcut: NaN is unequal even to itself.
    assert mine.diff(mine).changed_nodes == ["eq", "nan", "truth"]
    payload = mine.get_payload("same")
    start = sys.getrefcount(payload)
    for _ in range(3):
        mine.diff(theirs)
    assert sys.getrefcount(payload) == start
