"""Borrow conflicts between threads, parallel readers, and exact cache counts."""

import gc
import sys
import threading
import time

import pytest

from torvex import DAG, CycleError, NodeNotFoundError


def chain(n):
    dag = DAG()
    dag.add_nodes([str(i) for i in range(n)])
    dag.add_edges([(str(i), str(i + 1)) for i in range(n - 1)])
    return dag


def in_background(fn):
    """Calls fn() on a second thread until told to stop; returns (thread, stop, errors)."""
    errors, stop = [], threading.Event()

    def loop():
        try:
            while not stop.is_set():
                fn()
        except BaseException as e:  # reported to the test
            errors.append(e)

    thread = threading.Thread(target=loop)
    thread.start()
    return thread, stop, errors


def first_conflict(probe, expected_error, timeout=10.0):
    """Calls probe() until it raises RuntimeError; returns (message, seconds the call took)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        start = time.perf_counter()
        try:
            probe()
        except RuntimeError as e:
            return str(e), time.perf_counter() - start
        except expected_error:
            pass
    pytest.fail("no borrow conflict observed")


def test_mutation_during_a_long_read_fails_at_once():
    dag = chain(100_000)
    before = dag.generation
    thread, stop, errors = in_background(dag.validate)
    try:
        # Not borrowed: NodeNotFoundError. During validate (lock released): the borrow error.
        message, took = first_conflict(lambda: dag.remove_node("missing"), NodeNotFoundError)
    finally:
        stop.set()
        thread.join()
    assert not errors and message == "Already borrowed"
    assert took < 0.05  # no waiting for the reader
    assert dag.generation == before


def test_read_during_a_mutation_fails_at_once():
    dag = chain(100_000)

    def mutate():  # refusing 99999 -> 0 searches the whole chain with the lock released
        with pytest.raises(CycleError):
            dag.add_edge("99999", "0")

    thread, stop, errors = in_background(mutate)
    try:
        message, took = first_conflict(dag.node_count, ())
    finally:
        stop.set()
        thread.join()
    assert not errors and message == "Already mutably borrowed" and took < 0.05
    assert dag.edge_count() == 99_999


def test_two_readers_run_at_the_same_time():
    dag = chain(100_000)
    intervals = {"a": [], "b": []}

    def reader(key):
        for _ in range(40):
            start = time.perf_counter()
            dag.validate()
            intervals[key].append((start, time.perf_counter()))

    # With a long switch interval the lock changes hands only where validate releases it, so a
    # call of b that lies inside a call of a ran while a was computing.
    old = sys.getswitchinterval()
    sys.setswitchinterval(1.0)
    try:
        threads = [threading.Thread(target=reader, args=(k,)) for k in intervals]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    finally:
        sys.setswitchinterval(old)
    nested = sum(1 for b0, b1 in intervals["b"] for a0, a1 in intervals["a"] if a0 < b0 < b1 < a1)
    nested += sum(1 for a0, a1 in intervals["a"] for b0, b1 in intervals["b"] if b0 < a0 < a1 < b1)
    assert nested > 0


def test_cache_counts_stay_exact_under_concurrent_readers():
    dag = chain(20_000)
    calls, threads = 50, 4
    barrier = threading.Barrier(threads)

    def reader():
        barrier.wait()
        for _ in range(calls):
            assert len(dag.topological_sort()) == 20_000

    workers = [threading.Thread(target=reader) for _ in range(threads)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    info = dag.cache_info()
    assert info["hits"] + info["misses"] == calls * threads
    assert info["misses"] >= 1 and info["size"] == 1


def test_iterators_have_their_own_borrow():
    dag = DAG()
    dag.add_nodes(["a", "b"])
    it = dag.iter_nodes()
    dag.add_node("c")  # iterating never borrows the graph
    assert [n.name for n in it] == ["a", "b"]


def test_collector_walks_a_graph_another_thread_is_changing():
    dag = chain(50_000)
    for i in range(0, 50_000, 50):
        dag.set_payload(str(i), [dag])  # payloads that lead back to the graph

    def change():
        # Both refuse the edge after working on the edges with the lock released.
        for call in [lambda: dag.add_edge("49999", "0"),
                     lambda: dag.add_edges([("49999", "0")] + [("0", "49999")] * 20_000)]:
            try:
                call()
            except CycleError:
                pass

    thread, stop, errors = in_background(change)
    try:
        for _ in range(100):
            gc.collect()
            assert len(gc.get_referents(dag)) == 1 + 1000  # its type and the payloads
    finally:
        stop.set()
        thread.join()
    assert not errors and dag.edge_count() == 49_999
