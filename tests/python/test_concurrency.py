"""Every call that releases the interpreter lock keeps its borrow; parallel readers, daemon
threads at interpreter exit, signals during long calls, and the collector during a change."""

import functools
import gc
import signal
import subprocess
import sys
import threading
import time

import pytest

from conftest import SCRIPT_GRAPHS, chain, run_python, snapshot
from torvex import DAG, CycleError, DuplicateNodeError


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


def first_conflict(probe, expected_error, timeout=60.0):
    """Calls probe() until it raises RuntimeError; returns the message."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            probe()
        except RuntimeError as e:
            return str(e)
        except expected_error:
            pass
    pytest.fail("no borrow conflict observed")


@functools.cache
def long_chain(n):
    return chain(n)


# Calls that release the interpreter lock, on a chain of the given length (0 for the default):
# while one runs on another thread, a change of the graph must fail at once with the borrow
# error; while a refused edge is being searched, even a read fails.
RELEASING = [(call, 0) for call in [
    "d.ancestors(LAST)", "d.descendants('0')", "d.iter_ancestors(LAST)", "d.iter_descendants('0')",
    "d.clear_cache() or d.topological_sort()", "d.clear_cache() or d.topological_sort_dfs()",
    "d.clear_cache() or d.topological_levels()", "d.clear_cache() or d.iter_topological_sort()",
    "d.all_topological_orderings(1)", "d.validate()",
    "d.stats()", "d.diff(d)", "d.dirty_set(['0'])", "d.change_provenance(['0'])",
    "d.nodes_matching_regex('7$')", "d.nodes_matching_glob('*7')", "d.partition_level_based(4)",
    "d.partition_balanced(4)", "d.partition_communication_min(4)", "d.all_paths('0', LAST)",
    "d.shortest_path('0', LAST)", "d.longest_path('0', LAST, {'1': 2.0})",
    "d.is_ancestor('0', LAST)", "d.topological_sort_priority({'0': 1.0})",
    "d.topological_levels_priority()", "d.execution_plan()", "d.execution_plan_constrained(4)",
    "d.bottom_levels()", "d.critical_path()", "d.subgraph_by_depth('0', 10**9, 'forward')",
    "d.dominator_tree('0')", "d.transitive_reduction()", "d.save(PATH)",
    "pytest.raises(CycleError, d.add_edge, LAST, '0')",
    "pytest.raises(CycleError, d.add_edges, [(LAST, '0')] + [('0', LAST)] * 20_000)",
]] + [("d.build_reachability_index()", 20_000), ("d.transitive_closure()", 1_000)]


@pytest.mark.parametrize("call, n", RELEASING, ids=[c for c, _ in RELEASING])
def test_calls_release_the_lock_and_keep_their_borrow(call, n, tmp_path):
    dag = long_chain(n or 50_000)
    before = snapshot(dag)[:2]
    names = {"d": dag, "LAST": str(len(dag) - 1), "PATH": str(tmp_path / "g.bin"),
             "pytest": pytest, "CycleError": CycleError}
    payload = object()
    count = sys.getrefcount(payload)
    thread, stop, errors = in_background(lambda: eval(call, names))
    try:
        if call.startswith("pytest.raises"):  # an exclusive borrow: reads fail too
            message = first_conflict(dag.node_count, ())
        else:
            message = first_conflict(lambda: dag.add_node("0", payload, payload),
                                     DuplicateNodeError)
    finally:
        stop.set()
        thread.join()
    assert not errors
    # The refusal came at once: a call that waited for the borrow would not have failed.
    assert message == ("Already mutably borrowed" if call.startswith("pytest.raises")
                       else "Already borrowed")
    assert snapshot(dag)[:2] == before and sys.getrefcount(payload) == count


def test_two_readers_run_at_the_same_time():
    dag = chain(100_000)

    def nested_calls():
        intervals = {"a": [], "b": []}

        def reader(key):
            for _ in range(40):
                start = time.perf_counter()
                dag.validate()
                intervals[key].append((start, time.perf_counter()))

        # With a long switch interval the lock changes hands only where validate releases it, so
        # a call of b that lies inside a call of a ran while a was computing.
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
        a, b = intervals["a"], intervals["b"]
        return (sum(1 for b0, b1 in b for a0, a1 in a if a0 < b0 < b1 < a1)
                + sum(1 for a0, a1 in a for b0, b1 in b if b0 < a0 < a1 < b1))

    # Calls of equal length nest only by chance (about four rounds in five): a few rounds make
    # a miss unlikely, while a lock held throughout would never let them nest.
    assert any(nested_calls() > 0 for _ in range(5))


# -- interpreter exit ----------------------------------------------------------------------------

EXIT_SCRIPT = r'''
import sys, threading, time
from torvex import DAG

dag = DAG()
dag.add_nodes([(str(i), i) for i in range(20_000)])
dag.add_edges([(str(i), str(i + 1)) for i in range(19_999)])
text = dag.to_json(lambda payload: payload)
calls = {
    "lock released": dag.validate,
    # The callable gives up the lock itself, inside a call that holds it.
    "callback": lambda: DAG.from_json(text, lambda value: time.sleep(0)),
}
call = calls[sys.argv[1]]

def loop():
    while True:
        call()

for _ in range(4):
    threading.Thread(target=loop, daemon=True).start()

class SlowTeardown:
    def __del__(self):  # runs once the interpreter is finalizing, with the lock given up
        time.sleep(0.05)

teardown = SlowTeardown()
time.sleep(0.01)
'''


@pytest.mark.parametrize("inside", ["lock released", "callback"])
def test_interpreter_exit_with_daemon_threads_inside_calls(inside):
    # CPython ends a daemon thread that wants the lock back during finalization; that must
    # neither abort the process nor run our cleanup without the lock.
    for _ in range(8):
        done = run_python(EXIT_SCRIPT, args=[inside])
        assert (done.returncode, done.stderr) == (0, "")


DROP_SCRIPT = r'''
import gc, sys, threading, time
from torvex import DAG

class Slow:
    def __del__(self):  # gives up the lock, which a daemon thread may then never get back
        time.sleep(0.001)

class LeavesOneBehind:
    # The collector finalises a cycle's garbage before it clears it; what a finaliser adds to
    # the graph then is dropped by the graph's own clear.
    def __init__(self, dag):
        self.dag = dag

    def __del__(self):
        self.dag.add_node("late", Slow())

def drop(road):
    dag = DAG()
    if road == "collector":
        dag.add_node("a", LeavesOneBehind(dag))
        del dag
        gc.collect(0)
        return
    dag.add_node("a", Slow())
    if road == "remove_node":
        dag.remove_node("a")
    elif road == "set_payload":
        dag.set_payload("a", None)
    # "dealloc": the graph goes with the frame

def loop():
    while True:
        drop(sys.argv[1])

threading.Thread(target=loop, daemon=True).start()
time.sleep(0.05)
'''


@pytest.mark.parametrize("road", ["remove_node", "set_payload", "dealloc", "collector"])
def test_interpreter_exit_with_a_daemon_thread_dropping_payloads(road):
    # A payload's finaliser may give up the lock; CPython ends the thread when it asks for the
    # lock back during finalization, from inside our release of the payload.
    for _ in range(4):
        done = run_python(DROP_SCRIPT, args=[road])
        assert (done.returncode, done.stderr) == (0, "")


# -- signals -------------------------------------------------------------------------------------

INTERRUPT_SCRIPT = SCRIPT_GRAPHS + r'''
import json, os, resource, signal, sys

case = sys.argv[1]
dag = DAG()
dag.add_nodes(["a", "b"])
if case == "all_topological_orderings":
    dag = independent(16)
    call = dag.all_topological_orderings
elif case == "all_paths":
    dag = ladder(40)
    call = lambda: dag.all_paths("top", "bottom")
elif case == "transitive_closure":
    dag = chain(40_000)
    call = dag.transitive_closure
elif case == "transitive_reduction":  # every node also points at the last
    dag = chain(300_000, [(f"n{i}", "n299999") for i in range(299_998)])
    call = dag.transitive_reduction
elif case.endswith((" result", " copy")):
    def copying(method):  # a copy or text of a whole graph: long names, each to the next two
        names = [f"{'x' * 60}{i}" for i in range(300_000)]
        dag = DAG()
        dag.add_nodes(names)
        dag.add_edges(list(zip(names, names[1:])) + list(zip(names, names[2:])))
        args = {"collapse": [names[1000:2000], "summary"], "subgraph": [names],
                "diff": [dag.snapshot()], "to_dot": [], "to_mermaid": [], "edges": []}[method]
        return dag, args, 0.05

    # " result": the signal comes while a computed result becomes objects; " copy": while the
    # call builds its new graph or text
    dag, args, when = {
        "all_topological_orderings result": lambda: (independent(10), [800_000], 0.4),
        "all_paths result": lambda: (ladder(19), ["top", "bottom"], 0.8),
        "transitive_reduction result": lambda: (chain(400_000), [], 0.1),  # copying the graph
        "collapse copy": lambda: copying("collapse"),
        "subgraph copy": lambda: copying("subgraph"),
        "diff copy": lambda: copying("diff"),
        "to_dot copy": lambda: copying("to_dot"),
        "to_mermaid copy": lambda: copying("to_mermaid"),
        "edges copy": lambda: copying("edges"),
        # every node changed: the lists hold millions of names
        "change_provenance result": lambda: (chain(2500), [[f"n{i}" for i in range(2500)]], 0.1),
        # the signal comes while the costs are read
        "bottom_levels result": lambda: (chain(1), [{f"k{i}": 1.0 for i in range(2_000_000)}],
                                         0.05),
    }[case]()
    got = []
    import itertools

    def call():
        # At a point of the call's processor time where the computing is long over. A call that
        # does not look for signals meanwhile hands its whole result to got (starmap and extend
        # run no handler) before the handler runs.
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGPROF, lambda *_: os.kill(os.getpid(), signal.SIGINT))
        signal.setitimer(signal.ITIMER_PROF, when)
        try:
            got.extend(itertools.starmap(getattr(dag, case.split()[0]), [args]))
        finally:
            signal.setitimer(signal.ITIMER_PROF, 0)
            assert not got, "the whole result was made before the signal was seen"
elif case == "from_json":  # a signal handler runs inside the deserializer
    text = json.dumps({"nodes": [{"name": f"n{i}", "payload": i} for i in range(1_000_000)],
                       "edges": []})
    call = lambda: DAG.from_json(text, lambda value: value)
elif case == "nodes_matching_regex":  # one long name, a thousand threads at each character
    dag.add_node("é" * 3_000_000)
    call = lambda: dag.nodes_matching_regex(r"\B[éa]{1000}[bc]")
elif case == "nodes_matching_regex on few long names":  # each name costs long on its own
    # (copies that may be empty and are not counts of counts: U?{20000} is U{0,20000})
    dag.add_nodes([chr(0x100 + i) + "U" * 2000 + "3" for i in range(400)])
    call = lambda: dag.nodes_matching_regex(r"\pL(?:U?U?){10000}3")
elif case == "nodes_matching_glob":  # many names, each past what the automaton keeps in cache
    dag.add_nodes([f"{i:07d}" + format(i * 0x9E3779B97F4A7C15 % 2**64 >> 24, "040b")
                   .replace("0", "a").replace("1", "c") for i in range(1_000_000)])
    call = lambda: dag.nodes_matching_glob("*a" + "?" * 40 + "*")  # no name has a match
elif case == "add_nodes":
    items = [str(i) for i in range(1_500_000)]
    call = lambda: dag.add_nodes(items)
elif case == "add_edges":
    items = [("a", "b", 2.0, "label")] * 2_000_000
    call = lambda: dag.add_edges(items)
elif case == "add_edges closing a cycle":  # the signal comes before the closing item
    dag.add_edge("a", "b")
    items = [("a", "b", 2.0, "label")] * 2_000_000 + [("b", "a")]
    call = lambda: dag.add_edges(items)

dag.topological_sort()  # fills the cache
before = (len(dag), dag.edge_count(), dag.generation)
# A call that ignored the signal would run until it ends or exhausts memory: bound both (the
# address sanitizer needs its room). The hard limits stay: only root may raise them.
def bound(which, soft):
    hard = resource.getrlimit(which)[1]
    resource.setrlimit(which, (soft if hard == resource.RLIM_INFINITY else min(soft, hard), hard))

with open("/proc/self/maps") as f:
    sanitized = "libasan" in f.read()
with open("/proc/self/status") as f:
    size = next(int(l.split()[1]) * 1024 for l in f if l.startswith("VmSize:"))
if not sanitized:
    bound(resource.RLIMIT_AS, size + (1 << 30))
bound(resource.RLIMIT_CPU, int(resource.getrusage(resource.RUSAGE_SELF).ru_utime) + 20)
# SIGINT as Ctrl-C sends it, a moment after the call starts. A timer thread could not send it
# while the call holds the interpreter lock; the timer's own signal gets through. The handler is
# set here: a suite started in the background inherits SIGINT ignored.
signal.signal(signal.SIGINT, signal.default_int_handler)
signal.signal(signal.SIGALRM, lambda *_: os.kill(os.getpid(), signal.SIGINT))
signal.setitimer(signal.ITIMER_REAL, 0.05)
try:
    call()
    print("finished")
except KeyboardInterrupt:
    print("KeyboardInterrupt")
after = (len(dag), dag.edge_count(), dag.generation)
# Whatever went in before the signal went in whole, and the counters and cache agree with it.
added = after[0] - before[0] + after[1] - before[1]
assert after[2] == before[2] + added, (before, after)
assert dag.cache_info()["size"] == (1 if added == 0 else 0)
assert dag.validate() is True and len(dag.topological_sort()) == len(dag)
print("cut short" if case.startswith("add_") and added < len(items) else "consistent")
'''


@pytest.mark.parametrize("case", ["all_topological_orderings", "all_paths", "transitive_closure",
                                  "transitive_reduction", "from_json", "add_nodes", "add_edges",
                                  "add_edges closing a cycle", "nodes_matching_regex",
                                  "nodes_matching_regex on few long names",
                                  "nodes_matching_glob", "all_topological_orderings result",
                                  "all_paths result", "transitive_reduction result",
                                  "collapse copy", "subgraph copy", "diff copy", "to_dot copy",
                                  "to_mermaid copy", "edges copy", "change_provenance result",
                                  "bottom_levels result"])
def test_sigint_stops_a_long_call(case):
    done = run_python(INTERRUPT_SCRIPT, args=[case])
    assert done.returncode == 0, done.stderr[-2000:]
    outcome = "cut short" if case.startswith("add_") else "consistent"
    assert done.stdout.splitlines() == ["KeyboardInterrupt", outcome]


def test_sigint_stops_a_long_call_started_with_sigint_ignored():
    """A shell starts background jobs with SIGINT ignored, and children inherit that."""
    done = subprocess.run([sys.executable, "-c", INTERRUPT_SCRIPT, "add_nodes"],
                          preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_IGN),
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr[-2000:]
    assert done.stdout.splitlines() == ["KeyboardInterrupt", "cut short"]


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


# Every method of a graph with arguments that succeed: (name, arguments).
CALLS = [(m, ()) for m in [
    "node_count", "edge_count", "roots", "leaves", "nodes", "node_names", "edges", "iter_nodes",
    "iter_roots", "iter_leaves", "validate", "topological_sort", "topological_sort_dfs",
    "all_topological_orderings", "topological_levels", "iter_topological_sort",
    "iter_topological_levels", "topological_sort_priority", "topological_levels_priority",
    "execution_plan", "bottom_levels", "critical_path", "build_reachability_index", "stats",
    "to_json", "to_dot", "to_mermaid", "to_bytes", "reverse", "snapshot",
    "transitive_reduction", "transitive_closure", "__len__", "__iter__"]] + [
    (m, ("0",)) for m in [
        "has_node", "get_payload", "get_metadata", "predecessors", "successors", "ancestors",
        "descendants", "in_degree", "out_degree", "iter_ancestors", "iter_descendants",
        "nodes_matching_regex", "nodes_matching_glob", "dominator_tree", "__getitem__",
        "__contains__"]] + [
    (m, ("0", "1")) for m in ["has_edge", "all_paths", "shortest_path", "longest_path",
                              "is_ancestor"]] + [
    (m, (2,)) for m in ["execution_plan_constrained", "partition_level_based",
                        "partition_balanced", "partition_communication_min"]] + [
    (m, (["0"],)) for m in ["dirty_set", "change_provenance", "subgraph"]] + [
    ("subgraph_by_depth", ("0", 1)), ("collapse", (["0"], "x")),
    ("filter", (lambda n, p: True,)), ("merge", (chain(2),)), ("diff", (chain(2),))]
CHANGES = [("add_node", ("x",)), ("add_nodes", (["x"],)), ("add_edge", ("0", "1")),
           ("add_edges", ([("0", "1")],)), ("remove_node", ("0",)),
           ("remove_edge", ("0", "1")), ("set_payload", ("0", 1)), ("set_metadata", ("0", 1)),
           ("__setitem__", ("0", 1))]


def test_every_method_refuses_a_graph_borrowed_elsewhere():
    # Inside a callback the graph is lent for reading: every change is refused.
    dag = chain(3)
    refused = []

    def predicate(name, payload):
        for method, arguments in CHANGES:
            try:
                getattr(dag, method)(*arguments)
            except RuntimeError as e:
                refused.append((method, str(e)))
        return True

    dag.filter(predicate)
    assert refused == [(m, "Already borrowed") for m, _ in CHANGES] * 3
    # While a refused edge is searched, with the lock released, even reading is refused.
    long = long_chain(50_000)
    thread, stop, errors = in_background(
        lambda: pytest.raises(CycleError, long.add_edge, "49999", "0"))
    try:
        for method, arguments in CALLS:
            if method in ("transitive_closure", "build_reachability_index"):
                continue  # quadratic on a long chain, should the call get the graph
            call = getattr(long, method)
            assert first_conflict(lambda: call(*arguments), ()) == "Already mutably borrowed"
    finally:
        stop.set()
        thread.join()
    assert not errors


@pytest.mark.parametrize("method", [m for m, _ in CALLS + CHANGES if not m.startswith("__")])
def test_every_method_refuses_an_unknown_keyword(method):
    with pytest.raises(TypeError, match=rf"^DAG\.{method}\(\) (got an unexpected keyword "
                                        r"argument 'bogus'|takes no keyword arguments)$"):
        getattr(DAG(), method)(bogus=1)
