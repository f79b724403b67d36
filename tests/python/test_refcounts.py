"""Payload and metadata references are released on every path, errors included."""

import gc
import sys
import threading

import pytest

from conftest import chain
from torvex import DAG


class Payload:
    pass


@pytest.fixture
def objs():
    return [Payload() for _ in range(4)]


def counts(objs):
    gc.collect()
    return [sys.getrefcount(o) for o in objs]


def test_removal_and_drop_release_references(objs):
    start = counts(objs)
    dag = DAG()
    dag.add_node("a", objs[0], objs[1])
    dag.add_nodes([("b", objs[2]), ("c", objs[3], objs[3])])
    assert counts(objs) == [n + 1 for n in start[:3]] + [start[3] + 2]
    dag.remove_node("a")
    assert counts(objs)[:2] == start[:2]
    del dag
    assert counts(objs) == start


def test_replacing_releases_the_old_object(objs):
    start = counts(objs)
    dag = DAG()
    dag.add_node("a", objs[0], objs[1])
    dag.set_payload("a", objs[2])
    dag.set_metadata("a", None)
    assert counts(objs) == [start[0], start[1], start[2] + 1, start[3]]
    dag["a"] = objs[3]
    assert counts(objs) == [start[0], start[1], start[2], start[3] + 1]
    dag.remove_node("a")
    assert counts(objs) == start


class Finalized:
    """Counts its own finalisation in `freed`; `back` may point at anything."""

    def __init__(self, freed, back=None):
        self.freed, self.back = freed, back

    def __del__(self):
        self.freed.append(1)


def test_graphs_that_refer_to_themselves_are_collected():
    freed = []
    for _ in range(200):
        dag = DAG()
        tracker = Finalized(freed)
        dag.add_node("closure", lambda: (dag, tracker))
        dag.add_node("parent", None, Finalized(freed, back=dag))
        dag.add_nodes([("tuple", (dag, Finalized(freed)))])  # a tuple cannot break the cycle
        plan = dag.execution_plan()
        plan.steps.append((plan, Finalized(freed)))
        result = dag.partition_level_based(1)
        result.partitions.append((result, Finalized(freed)))
        step = plan.steps[0]
        step.nodes.append((step, Finalized(freed)))
        assert gc.is_tracked(dag) and dag.get_payload("closure") in gc.get_referents(dag)
        del dag, tracker, plan, result, step
    gc.collect()
    assert len(freed) == 200 * 6


def test_payloads_dropped_while_another_call_has_the_lock_released():
    """Payloads dropped on one thread while a call on another runs without the lock are
    finalised at once, on the thread that dropped them."""
    long = chain(200_000)
    freed, where = [], []

    class Tracked(Finalized):
        def __del__(self):
            where.append(threading.get_ident())
            super().__del__()

    stop = threading.Event()
    reader = threading.Thread(target=lambda: [long.validate() for _ in iter(stop.is_set, True)])
    reader.start()
    try:
        for k in range(100):
            dag = DAG()
            dag.add_node("a", Tracked(freed), Tracked(freed))
            dag.add_nodes([("b", Tracked(freed), Tracked(freed))])
            dag.set_payload("b", None)
            dag.remove_node("a")
            assert len(freed) == 6 * k + 3
            del dag
            assert len(freed) == 6 * k + 4
            other = DAG()
            other.add_node("c", (other, Tracked(freed), Tracked(freed)))  # a cycle: collected
            del other
            gc.collect()
            assert len(freed) == 6 * k + 6
    finally:
        stop.set()
        reader.join()
    assert set(where) == {threading.get_ident()}
