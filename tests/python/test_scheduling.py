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


class Number:
    """Neither int nor float, but convertible to float."""

    def __float__(self):
        return 5.0


def test_each_method_through_python(diamond):
    # Values of any float-convertible type; names not in the graph are ignored.
    costs = {"b": 2, "c": Number(), "ghost": 99.0}
    assert diamond.bottom_levels(costs) == {"a": 7.0, "b": 3.0, "c": 6.0, "d": 1.0}
    path, length = diamond.critical_path(costs)
    assert names(path) == ["a", "c", "d"] and length == 7.0
    assert names(diamond.topological_sort_priority(costs)) == ["a", "c", "b", "d"]
    assert [names(level) for level in diamond.topological_levels_priority(costs)] == [
        ["a"], ["c", "b"], ["d"]]
    plan = diamond.execution_plan(costs)
    assert plan_steps(plan) == [(0.0, ["a"]), (1.0, ["b", "c"]), (6.0, ["d"])]
    assert [s.duration for s in plan.steps[1].nodes] == [2.0, 5.0]
    assert names(plan.critical_path) == ["a", "c", "d"] and plan.estimated_makespan == 7.0
    one = diamond.execution_plan_constrained(1, costs)
    assert plan_steps(one) == [(0.0, ["a"]), (1.0, ["c"]), (6.0, ["b"]), (8.0, ["d"])]
    assert (one.total_nodes, one.max_parallelism) == (4, 1)
    assert plan_steps(diamond.execution_plan_constrained(2**64 - 1, costs)) == plan_steps(plan)
    base = plan_steps(diamond.execution_plan())
    assert all(plan_steps(diamond.execution_plan(c)) == base for c in (None, {}))
    assert diamond.topological_levels_priority(None) == diamond.topological_levels()


def test_odd_priorities_and_empty_graphs():
    # Total order: NaN above inf, -0.0 below an unset 0.0.
    free = dag_with("xyz")
    assert names(free.topological_sort_priority({"x": math.inf, "y": math.nan, "z": -0.0})) == [
        "y", "x", "z"]
    assert DAG().bottom_levels() == {} and DAG().critical_path() == ([], 0.0)
    assert DAG().topological_sort_priority() == [] and DAG().topological_levels_priority() == []


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
        with pytest.raises(AttributeError):
            delattr(obj, attr)
    for cls in (ScheduledNode, ExecutionStep, ExecutionPlan):
        with pytest.raises(TypeError, match=f"^No constructor defined for {cls.__name__}$"):
            cls()
        attrs = [a for a in vars(cls) if not a.startswith("__")]
        assert cls.__doc__ is None and all(getattr(cls, a).__doc__ is None for a in attrs)
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
    (3.0, "3"), (-0.0, "-0"), (1e20, "1" + "0" * 20), (-math.inf, "-inf"), (math.nan, "NaN"),
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
    # max_workers is converted before costs.
    (lambda d: d.execution_plan_constrained("2", costs=[]), TypeError, "^argument 'max_workers'"),
    (lambda d: d.execution_plan([("a", 1.0)]), TypeError,
     "^argument 'costs': 'list' object cannot be converted to 'PyDict'$"),
    (lambda d: d.critical_path({1: 1.0}), TypeError,
     "^argument 'costs': 'int' object cannot be converted to 'PyString'$"),
    (lambda d: d.bottom_levels({"a": "1"}), TypeError,
     "^argument 'costs': must be real number, not str$"),
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


@pytest.fixture(scope="module")
def long_chain():
    return chain(100_000)


@pytest.mark.parametrize("call", [
    lambda d: d.topological_sort_priority({"0": 1.0}),
    lambda d: d.topological_levels_priority(),
    lambda d: d.execution_plan(),
    lambda d: d.execution_plan_constrained(4),
    lambda d: d.bottom_levels(),
    lambda d: d.critical_path(),
])
def test_computations_release_the_lock_and_keep_the_borrow(long_chain, call):
    thread, stop, errors = in_background(lambda: call(long_chain))
    try:
        message, took = first_conflict(lambda: long_chain.remove_node("missing"),
                                       NodeNotFoundError)
    finally:
        stop.set()
        thread.join()
    assert not errors and message == "Already borrowed" and took < 0.05
