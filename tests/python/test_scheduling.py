"""Priority orders, bottom levels, the critical path, execution plans and their result objects."""

import math
import sys

import pytest

from conftest import names, snapshot
from test_concurrency import chain, first_conflict, in_background
from torvex import DAG, ExecutionPlan, ExecutionStep, NodeNotFoundError, ScheduledNode


def dag_with(nodes, edges=()):
    dag = DAG()
    dag.add_nodes(list(nodes))
    dag.add_edges(list(edges))
    return dag



def plan_steps(plan):
    """Each step as (start time, [names]); every node of a step starts at the same time."""
    steps = []
    for k, step in enumerate(plan.steps):
        assert step.step_index == k
        starts = {s.start_time for s in step.nodes}
        assert len(starts) == 1
        steps.append((starts.pop(), [s.node.name for s in step.nodes]))
    return steps


# --- priority-driven orders --------------------------------------------------------------------

def test_priority_order_prefers_higher_then_smaller_name():
    assert names(dag_with(["a", "b2", "c"], [("a", "b2")]).topological_sort_priority()) == [
        "a", "b2", "c"]
    free = dag_with("xyz")
    assert names(free.topological_sort_priority({"x": 1.0, "y": 5, "ghost": 99})) == list("yxz")
    # Total order: NaN above inf, -0.0 below an unset 0.0; a predecessor is never passed.
    assert names(free.topological_sort_priority(
        {"x": math.inf, "y": math.nan, "z": -0.0})) == ["y", "x", "z"]
    assert names(free.topological_sort_priority({"x": -0.0})) == ["y", "z", "x"]
    assert names(dag_with("ab", [("a", "b")]).topological_sort_priority(
        priorities={"b": 10.0})) == ["a", "b"]


def test_priority_levels_keep_the_grouping():
    dag = dag_with("abc", [("a", "c"), ("b", "c")])
    assert [names(level) for level in dag.topological_levels_priority({"b": 1.0})] == [
        ["b", "a"], ["c"]]
    assert dag.topological_levels_priority(None) == dag.topological_levels()
    assert DAG().topological_sort_priority() == [] and DAG().topological_levels_priority() == []


# --- bottom levels and the critical path ---------------------------------------------------------

def test_bottom_levels_and_critical_path(diamond):
    assert diamond.bottom_levels() == {"a": 3.0, "b": 2.0, "c": 2.0, "d": 1.0}
    path, length = diamond.critical_path()
    assert names(path) == ["a", "b", "d"] and length == 3.0  # b and c tie: smaller name
    dag, costs = dag_with("abc", [("a", "b")]), {"a": 2.0, "b": 5, "c": 6.0}
    assert dag.bottom_levels(costs) == {"a": 7.0, "b": 5.0, "c": 6.0}
    assert [names(p) if k == 0 else p for k, p in enumerate(dag.critical_path(costs))] == [
        ["a", "b"], 7.0]


def test_odd_costs_flow_through():
    parent = dag_with(["p", "leaf"], [("p", "leaf")])
    assert parent.bottom_levels({"leaf": -5.0}) == {"p": 1.0, "leaf": -5.0}
    levels = parent.bottom_levels({"leaf": math.nan})
    assert levels["p"] == 1.0 and math.isnan(levels["leaf"])
    path, length = parent.critical_path({"leaf": math.nan})  # positive NaN is the greatest key
    assert names(path) == ["leaf"] and math.isnan(length)
    assert DAG().bottom_levels() == {} and DAG().critical_path() == ([], 0.0)


# --- execution plans -----------------------------------------------------------------------------

@pytest.mark.parametrize("plan", [
    lambda d, c=None: d.execution_plan(c),
    lambda d, c=None: d.execution_plan_constrained(1, c),
    lambda d, c=None: d.execution_plan_constrained(2**64 - 1, costs=c),
])
def test_chain_plans_agree(plan):
    result = plan(dag_with("abc", [("a", "b"), ("b", "c")]))
    assert plan_steps(result) == [(0.0, ["a"]), (1.0, ["b"]), (2.0, ["c"])]
    assert all(s.duration == 1.0 for step in result.steps for s in step.nodes)
    assert names(result.critical_path) == ["a", "b", "c"]
    assert (result.total_nodes, result.max_parallelism, result.estimated_makespan) == (3, 1, 3.0)


def test_worker_bound_decides_the_steps():
    free = dag_with("abc")
    assert plan_steps(free.execution_plan()) == [(0.0, ["a", "b", "c"])]
    one = free.execution_plan_constrained(1)
    assert plan_steps(one) == [(0.0, ["a"]), (1.0, ["b"]), (2.0, ["c"])]
    assert one.max_parallelism == 1 and one.estimated_makespan == 1.0
    assert plan_steps(free.execution_plan_constrained(0)) == plan_steps(one)
    zero = free.execution_plan_constrained(1, {"a": 0, "b": 0, "c": 0})
    assert plan_steps(zero) == [(0.0, ["a", "b", "c"])] and zero.max_parallelism == 3

    # a finishes first at 1.0, so c takes the free worker before b releases x and y.
    dag = dag_with("abcxy", [("b", "x"), ("b", "y")])
    plan = dag.execution_plan_constrained(2, {"a": 1.0, "b": 1.0, "c": 1.0, "x": 5.0, "y": 5.0})
    assert plan_steps(plan) == [(0.0, ["a", "b"]), (1.0, ["c", "x"]), (2.0, ["y"])]
    assert names(plan.critical_path) == ["b", "x"] and plan.estimated_makespan == 6.0


def test_negative_and_unknown_costs():
    dag = dag_with("axb", [("a", "x")])
    plan = dag.execution_plan_constrained(1, {"a": -1.0, "x": 10.0, "b": 1.0})
    assert plan_steps(plan) == [(0.0, ["a", "x"]), (10.0, ["b"])]
    assert plan.max_parallelism == 2 and names(plan.critical_path) == ["x"]
    level = dag_with("abc", [("a", "b")]).execution_plan({"c": 5.0})
    assert plan_steps(level) == [(0.0, ["a", "c"]), (5.0, ["b"])]
    assert level.estimated_makespan == 5.0  # the critical path, not the end of the last step
    base = repr(plan_steps(dag.execution_plan()))
    assert all(repr(plan_steps(dag.execution_plan(c))) == base for c in (None, {}, {"zz": 3.0}))
    nan = dag.execution_plan_constrained(2, {"a": math.nan, "x": math.inf})
    # a's NaN finish never delays x, and a NaN bottom level is the greatest makespan.
    assert plan_steps(nan) == [(0.0, ["a", "b", "x"])] and math.isnan(nan.estimated_makespan)


# --- result objects ------------------------------------------------------------------------------

def test_plan_objects_are_frozen_snapshots():
    dag = dag_with(['q"x', "b"], [('q"x', "b")])
    plan = dag.execution_plan({'q"x': 1.5})
    assert plan.steps is plan.steps and plan.critical_path is plan.critical_path
    step = plan.steps[0]
    assert step.nodes is step.nodes
    node = step.nodes[0]
    assert node.node is not node.node and node.node == node.node
    assert repr(node) == 'ScheduledNode(node="q\\"x", start_time=0, duration=1.5)'
    assert repr(step) == "ExecutionStep(step_index=0, nodes_count=1)"
    assert repr(plan) == ("ExecutionPlan(steps=2, total_nodes=2, max_parallelism=1, "
                          "estimated_makespan=2.5)")
    plan.steps.append(None)  # the reprs read the lists as they are now
    step.nodes.clear()
    assert "steps=3," in repr(plan) and "nodes_count=0" in repr(step)
    for obj, attr in [(plan, "steps"), (plan, "critical_path"), (plan, "total_nodes"),
                      (step, "nodes"), (step, "step_index"), (node, "duration")]:
        with pytest.raises(AttributeError):
            setattr(obj, attr, None)
    for cls in (ScheduledNode, ExecutionStep, ExecutionPlan):
        with pytest.raises(TypeError, match=f"^No constructor defined for {cls.__name__}$"):
            cls()
    dag.remove_node("b")  # a snapshot: the plan keeps what it had
    assert plan.total_nodes == 2 and names(plan.critical_path) == ['q"x', "b"]


def test_empty_plan_and_release():
    plan = DAG().execution_plan()
    assert repr(plan) == ("ExecutionPlan(steps=0, total_nodes=0, max_parallelism=0, "
                          "estimated_makespan=0)")
    assert plan.critical_path is None and plan.steps == []
    assert DAG().execution_plan_constrained(3).critical_path is None
    plan = dag_with("ab").execution_plan()
    steps = plan.steps
    count = sys.getrefcount(steps)
    del plan  # the plan held the other reference
    assert sys.getrefcount(steps) == count - 1


@pytest.mark.parametrize("cost, text", [
    (3.0, "3"), (1.5, "1.5"), (0.1, "0.1"), (-2.25, "-2.25"), (-0.0, "-0"), (1e20, "1" + "0" * 20),
    (1e-7, "0.0000001"), (math.inf, "inf"), (-math.inf, "-inf"), (math.nan, "NaN"),
])
def test_float_text_in_reprs(cost, text):
    node = dag_with("a").execution_plan({"a": cost}).steps[0].nodes[0]
    assert repr(node) == f'ScheduledNode(node="a", start_time=0, duration={text})'


# --- arguments -----------------------------------------------------------------------------------

@pytest.mark.parametrize("call, error, text", [
    (lambda d: d.execution_plan_constrained(), TypeError,
     r"^DAG.execution_plan_constrained\(\) missing 1 required positional argument: 'max_workers'$"),
    (lambda d: d.execution_plan_constrained(-1), OverflowError, "^can't convert negative int"),
    (lambda d: d.execution_plan_constrained(None), TypeError, "^argument 'max_workers': "),
    (lambda d: d.execution_plan_constrained(1.0), TypeError, "^argument 'max_workers': "),
    (lambda d: d.execution_plan_constrained(2**64), OverflowError, "too big"),
    (lambda d: d.execution_plan([("a", 1.0)]), TypeError,
     "^argument 'costs': 'list' object cannot be converted to 'PyDict'$"),
    (lambda d: d.critical_path({1: 1.0}), TypeError,
     "^argument 'costs': 'int' object cannot be converted to 'PyString'$"),
    (lambda d: d.bottom_levels({"a": "1"}), TypeError, "^argument 'costs': "),
    (lambda d: d.topological_sort_priority([]), TypeError, "^argument 'priorities': "),
    (lambda d: d.topological_levels_priority(priorities={"a": None}), TypeError,
     "^argument 'priorities': "),
    (lambda d: d.execution_plan(cost={}), TypeError, "unexpected keyword argument 'cost'"),
])
def test_argument_errors_change_nothing(diamond, call, error, text):
    before = snapshot(diamond)
    with pytest.raises(error, match=text):
        call(diamond)
    assert snapshot(diamond) == before


def test_signatures():
    expected = {
        "topological_sort_priority": "($self, priorities=None)",
        "topological_levels_priority": "($self, priorities=None)",
        "execution_plan": "($self, costs=None)",
        "execution_plan_constrained": "($self, max_workers, costs=None)",
        "bottom_levels": "($self, costs=None)",
        "critical_path": "($self, costs=None)",
    }
    assert {m: getattr(DAG, m).__text_signature__ for m in expected} == expected
    assert DAG.critical_path.__doc__.startswith("Find the critical path through the DAG.\n\nArgs:")


def test_plan_runs_without_the_interpreter_lock():
    dag = chain(200_000)
    thread, stop, errors = in_background(lambda: dag.execution_plan_constrained(4))
    try:
        message, took = first_conflict(lambda: dag.remove_node("missing"), NodeNotFoundError)
    finally:
        stop.set()
        thread.join()
    assert not errors and message == "Already borrowed" and took < 0.05
