"""Calls checked by mypy --strict against the shipped stubs (scripts/typecheck.sh), never run.
The first part must type-check; each call of the second part is one the module refuses, and its
`type: ignore` must be needed: strict mode reports an ignore that is not."""

import collections
import types
from decimal import Decimal
from fractions import Fraction

import torvex
from torvex import DAG, NodeId, NodeRef, ReachabilityIndex


class Count:
    def __index__(self) -> int:
        return 2


def accepted(dag: DAG, ref: NodeRef) -> None:  # ref: node "a"
    # Costs and priorities: a dict of any numbers, including one typed with int values.
    int_costs: dict[str, int] = {"a": 1}
    dag.critical_path(int_costs)
    dag.execution_plan({"a": Fraction(1, 3), "b": Decimal("2.5"), "c": 1.0, "d": Count()})
    dag.topological_sort_priority(collections.OrderedDict(int_costs))
    dag.partition_communication_min(Count(), int_costs, max_iterations=Count(), max_imbalance=1)
    # Weights and counts through __float__ and __index__.
    dag.add_edge("c", ref, Fraction(1, 2), "label")
    dag.add_edge(ref, "b", Decimal("0.5"))
    dag.add_edges([("a", "b", Fraction(1, 2)), ("c", ref, Count(), "x"), ("a", "b")])
    fraction_edges = [("a", "b", Fraction(1, 2))]
    dag.add_edges(fraction_edges)
    dag.all_topological_orderings(Count())
    dag.all_paths("a", "b", limit=Count())
    dag.execution_plan_constrained(True)
    # Option strings held in variables.
    direction, conflict = "forward", "keep_second"
    dag.subgraph_by_depth("a", Count(), direction)
    dag.merge(dag, conflict)
    # Node sequences of every kind the module takes.
    names = ["a", "b"]
    dag.dirty_set(names)
    dag.change_provenance(("a", ref))
    dag.subgraph(collections.deque(names))
    dag.collapse([ref, "b"], "ab")
    dag.save("graph.tvx")


def refused(dag: DAG, index: ReachabilityIndex) -> None:
    NodeId()  # type: ignore[call-arg]
    ReachabilityIndex()  # type: ignore[call-arg]
    torvex.ExecutionPlan()  # type: ignore[call-arg]
    dag.dirty_set("ab")  # type: ignore[arg-type]
    dag.change_provenance("ab")  # type: ignore[arg-type]
    dag.subgraph("ab")  # type: ignore[arg-type]
    dag.collapse("ab", "x")  # type: ignore[arg-type]
    dag.subgraph({"a", "b"})  # type: ignore[arg-type]
    dag.critical_path({"a": "1"})  # type: ignore[dict-item]
    dag.critical_path({1: 1.0})  # type: ignore[dict-item]
    dag.critical_path(types.MappingProxyType({"a": 1.0}))  # type: ignore[arg-type]
    dag.add_edge("a", "b", "1.0")  # type: ignore[arg-type]
    dag.add_edges([("a", "b", None)])  # type: ignore[list-item]
    dag.partition_balanced(2.0)  # type: ignore[arg-type]
    dag.subgraph_by_depth("a", 1, None)  # type: ignore[arg-type]
    index.can_reach("a", 1)  # type: ignore[arg-type]
