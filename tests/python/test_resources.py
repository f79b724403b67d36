"""Failing calls leak nothing, exhausted memory is a MemoryError, and failing file writes and
reads are reported cleanly without harming what is already on disk."""

import gc
import os
import stat
import subprocess
import sys
import textwrap
import tracemalloc

import pytest

from torvex import (DAG, CycleError, DuplicateNodeError, EdgeNotFoundError, GraphError,
                    NodeNotFoundError, StaleNodeRefError)

IS_ROOT = hasattr(os, "geteuid") and os.geteuid() == 0


def under_address_sanitizer():
    with open("/proc/self/maps") as f:
        return "libasan" in f.read()


def rss_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def needs(*methods):
    missing = [m for m in methods if not hasattr(DAG, m)]
    if missing:
        pytest.skip("not in the module yet: " + ", ".join(missing))


# -- error paths ---------------------------------------------------------------------------------

def failing_calls(payload):
    """(call, expected exception) pairs; each fails and must leave the graph as it was."""
    dag = DAG()
    dag.add_node("a", payload, payload)
    dag.add_node("b", payload)
    dag.add_node("c")
    dag.add_edges([("a", "b"), ("a", "c"), ("b", "c")])
    gone = dag.add_node("gone", payload)
    dag.remove_node("gone")
    stale = dag.add_node("again")
    dag.remove_node("again")
    dag.add_node("again", payload)
    other = DAG()
    other.add_node("a", payload)
    calls = [
        (lambda: dag.add_node("a", payload, payload), DuplicateNodeError),
        (lambda: dag.add_nodes([("a", payload, payload)]), DuplicateNodeError),
        (lambda: dag.add_nodes([["x", payload]]), TypeError),
        (lambda: dag.add_node("x", payload, payload, payload), TypeError),
        (lambda: dag.add_node(name="x", payload=payload, bogus=payload), TypeError),
        (lambda: dag.add_edge("c", "a", 2.0, "label"), CycleError),
        (lambda: dag.add_edges([("c", "a", 1.0, "label")]), CycleError),
        (lambda: dag.add_edges([("a", "zz")]), NodeNotFoundError),
        (lambda: dag.add_edges([("a", "b", None)]), TypeError),
        (lambda: dag.remove_edge("b", "a"), EdgeNotFoundError),
        (lambda: dag.remove_node(stale), StaleNodeRefError),
        (lambda: dag.remove_node(gone), NodeNotFoundError),
        (lambda: dag.set_payload("zz", payload), NodeNotFoundError),
        (lambda: dag.set_metadata(5, payload), TypeError),
        (lambda: dag.__setitem__("zz", payload), NodeNotFoundError),
        (lambda: dag.__setitem__(stale, payload), TypeError),
        (lambda: dag.get_payload("zz"), NodeNotFoundError),
        (lambda: dag.successors(gone), NodeNotFoundError),
        (lambda: dag.ancestors("zz"), NodeNotFoundError),
        (lambda: dag.all_topological_orderings(-1), OverflowError),
    ]
    optional = {
        "shortest_path": (lambda: dag.shortest_path("a", "zz"), NodeNotFoundError),
        "longest_path": (lambda: dag.longest_path("a", "c", {"a": payload}), TypeError),
        "filter": (lambda: dag.filter(lambda name, p: 1 / 0), ZeroDivisionError),
        "merge": (lambda: dag.merge(other, "keep_first", lambda n, p, q: 1 / 0),
                  ZeroDivisionError),
        "collapse": (lambda: dag.collapse(["a", "c"], "x", payload), CycleError),
        "subgraph": (lambda: dag.subgraph(["a", "b", "a"]), DuplicateNodeError),
        "dominator_tree": (lambda: dag.dominator_tree("zz"), NodeNotFoundError),
        "nodes_matching_regex": (lambda: dag.nodes_matching_regex("("), GraphError),
        "dirty_set": (lambda: dag.dirty_set(["a", "zz"]), NodeNotFoundError),
        "diff": (lambda: dag.diff(payload), TypeError),
        "from_json": (lambda: DAG.from_json('{"nodes": [{"name": "x", "payload": 1}, '
                                            '{"name": "x", "payload": 2}], "edges": []}',
                                            lambda v: payload), DuplicateNodeError),
        "from_bytes": (lambda: DAG.from_bytes(dag.to_bytes()[:-3], lambda v: payload),
                       GraphError),
        "load": (lambda: DAG.load("/nonexistent/graph.bin", lambda v: payload), GraphError),
    }
    calls += [call for name, call in optional.items() if hasattr(DAG, name)]
    if hasattr(DAG, "build_reachability_index"):
        index = dag.build_reachability_index()
        calls.append((lambda: index.can_reach("zz", "a"), NodeNotFoundError))
    if hasattr(DAG, "to_json"):
        def swallowed():  # the serializer's error is dropped, not raised
            dag.to_json(lambda p: 1 / 0)
            raise LookupError
        calls.append((swallowed, LookupError))
    return dag, calls


def test_failing_calls_leak_nothing():
    payload = object()
    dag, calls = failing_calls(payload)
    state = (dag.node_names(), dag.edges(), dag.generation)

    def round_of_calls():
        for call, error in calls:
            with pytest.raises(error):
                call()

    for _ in range(300):  # warm-up: caches, free lists, arenas
        round_of_calls()
    gc.collect()
    refs, rss = sys.getrefcount(payload), rss_bytes()
    tracemalloc.start()
    try:
        base = tracemalloc.get_traced_memory()[0]
        for _ in range(1000):
            round_of_calls()
        gc.collect()
        grown = tracemalloc.get_traced_memory()[0] - base
    finally:
        tracemalloc.stop()
    for _ in range(3000):
        round_of_calls()
    gc.collect()
    calls_made = 4000 * len(calls)
    assert sys.getrefcount(payload) == refs
    assert grown < 64 * 1024, f"{grown} bytes of Python objects kept"
    # A leak of even a few bytes per call would show over this many calls. The sanitizer holds
    # freed memory back in quarantine, so the resident size says nothing there.
    if not under_address_sanitizer():
        assert rss_bytes() - rss < calls_made * 4, f"{rss_bytes() - rss} bytes more resident"
    assert (dag.node_names(), dag.edges(), dag.generation) == state


# -- exhausted memory ----------------------------------------------------------------------------

MEMORY_SCRIPT = textwrap.dedent(r'''
    import resource, sys, threading
    from torvex import DAG

    case, in_thread = sys.argv[1], sys.argv[2] == "thread"
    # In a new thread, so little room that small allocations fail too, such as the C++ runtime's
    # per-thread state that the thread's first exception needs.
    headroom = (64 if in_thread else 256) << 20

    def chain(n):
        dag = DAG()
        dag.add_nodes([f"n{i}" for i in range(n)])
        dag.add_edges([(f"n{i}", f"n{i + 1}") for i in range(n - 1)])
        return dag

    def ladder(rungs):  # 2 ** rungs paths from top to bottom
        dag = DAG()
        dag.add_nodes(["top", "bottom"] + [f"{s}{i}" for i in range(rungs) for s in "lr"])
        above = ["top"]
        for i in range(rungs):
            dag.add_edges([(u, f"{s}{i}") for u in above for s in "lr"])
            above = [f"l{i}", f"r{i}"]
        dag.add_edges([(u, "bottom") for u in above])
        return dag

    def independent(n):  # n! orderings
        dag = DAG()
        dag.add_nodes([f"x{i}" for i in range(n)])
        return dag

    cases = {  # case: (graph, method, arguments)
        "reachability_index": (lambda: chain(120_000), "build_reachability_index", ()),
        "transitive_closure": (lambda: chain(40_000), "transitive_closure", ()),
        "all_orderings": (lambda: independent(16), "all_topological_orderings", ()),
        "all_paths": (lambda: ladder(40), "all_paths", ("top", "bottom")),
        "to_json": (lambda: chain(300_000), "to_json", ()),
    }
    build, method, arguments = cases[case]
    dag = build()
    if not hasattr(dag, method):
        print("absent")
        sys.exit(0)
    run = lambda d: [getattr(d, method)(*arguments) for _ in range(8)]
    with open("/proc/self/status") as f:
        size = next(int(l.split()[1]) * 1024 for l in f if l.startswith("VmSize:"))
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    resource.setrlimit(resource.RLIMIT_AS, (size + headroom, hard))
    outcome = []

    def attempt():
        try:
            run(dag)
            outcome.append("finished")
        except MemoryError:
            outcome.append("MemoryError")

    if in_thread:  # the thread's first exception is its first failed allocation
        worker = threading.Thread(target=attempt)
        worker.start()
        worker.join()
    else:
        attempt()
    resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    # The graph and the interpreter carry on as before.
    assert dag.validate() is True and len(dag.topological_sort()) == len(dag)
    print(*outcome)
''')


@pytest.mark.parametrize("case, where", [
    ("reachability_index", "main"), ("transitive_closure", "main"), ("all_orderings", "main"),
    ("all_paths", "main"), ("to_json", "main"), ("all_orderings", "thread"),
    ("all_paths", "thread")])
def test_exhausted_memory_raises_memory_error(case, where):
    if under_address_sanitizer():
        pytest.skip("the sanitizer's own bookkeeping fails first under an address-space limit")
    done = subprocess.run([sys.executable, "-c", MEMORY_SCRIPT, case, where], capture_output=True,
                          text=True, timeout=300)
    assert done.returncode == 0, done.stderr[-2000:]
    if done.stdout.strip() == "absent":
        pytest.skip(f"{case}: method not in the module yet")
    assert done.stdout.strip() == "MemoryError"


# -- writing files -------------------------------------------------------------------------------

def graph_of(n, payload_text="p"):
    dag = DAG()
    dag.add_nodes([(f"node{i:06d}", payload_text) for i in range(n)])
    dag.add_edges([(f"node{i:06d}", f"node{i + 1:06d}", 0.5, "l") for i in range(n - 1)])
    return dag


def leftovers(directory, keep):
    return sorted(set(os.listdir(directory)) - set(keep))


FSIZE_SCRIPT = textwrap.dedent(r'''
    import resource, signal, sys
    from torvex import DAG, GraphError

    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # a failing write, not a killed process
    path, limit, serializer = sys.argv[1], int(sys.argv[2]), sys.argv[3] == "1"
    dag = DAG()
    dag.add_nodes([(f"node{i:06d}", "payload") for i in range(20_000)])
    dag.add_edges([(f"node{i:06d}", f"node{i + 1:06d}") for i in range(19_999)])
    resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    try:
        dag.save(path, (lambda p: p) if serializer else None)
    except GraphError as e:
        print(e)
    else:
        print("saved")
''')


@pytest.mark.parametrize("serializer", [False, True])
def test_save_beyond_the_file_size_limit_keeps_the_old_file(tmp_path, serializer):
    needs("save", "load")
    target = tmp_path / "graph.bin"
    graph_of(3).save(str(target))
    old = target.read_bytes()
    done = subprocess.run([sys.executable, "-c", FSIZE_SCRIPT, str(target), "65536",
                           "1" if serializer else "0"],
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr[-2000:]
    assert done.stdout.strip() == \
        "Bincode write error: io error: File too large (os error 27)"
    assert target.read_bytes() == old
    assert leftovers(tmp_path, ["graph.bin"]) == []  # no temporary file left behind
    assert DAG.load(str(target)).node_names() == ["node000000", "node000001", "node000002"]


def test_save_to_a_full_device_fails_in_place(tmp_path):
    needs("save")
    # A private node for the same device, so a faulty save could only ever replace this one.
    device = tmp_path / "full"
    try:
        os.mknod(device, stat.S_IFCHR | 0o666, os.makedev(1, 7))
    except (PermissionError, OSError):
        device = "/dev/full"
    for size in (3, 5000):  # flushed at the end, and flushed on the way
        with pytest.raises(GraphError) as error:
            graph_of(size).save(str(device))
        assert str(error.value) == \
            "Bincode write error: io error: No space left on device (os error 28)"
        assert stat.S_ISCHR(os.stat(device).st_mode)
        assert os.stat(device).st_rdev == os.makedev(1, 7)
    assert leftovers(tmp_path, ["full"]) == []


def test_save_to_bad_places(tmp_path):
    needs("save")
    dag = graph_of(3)
    existing = tmp_path / "kept.bin"
    existing.write_bytes(b"old contents")
    cases = {
        str(tmp_path / "missing" / "g.bin"): "No such file or directory (os error 2)",
        str(tmp_path): "Is a directory (os error 21)",
        str(existing / "g.bin"): "Not a directory (os error 20)",
        "": "No such file or directory (os error 2)",
    }
    for path, reason in cases.items():
        with pytest.raises(GraphError) as error:
            dag.save(path)
        assert str(error.value) == f"Failed to create file {path}: {reason}"
    assert existing.read_bytes() == b"old contents"
    assert leftovers(tmp_path, ["kept.bin"]) == []


@pytest.mark.skipif(IS_ROOT, reason="root writes into read-only directories")
def test_save_into_a_read_only_directory_keeps_the_old_file(tmp_path):
    needs("save")
    directory = tmp_path / "ro"
    directory.mkdir()
    (directory / "g.bin").write_bytes(b"old")
    directory.chmod(0o555)
    try:
        with pytest.raises(GraphError, match="^Failed to create file .*Permission denied"):
            graph_of(3).save(str(directory / "g.bin"))
        assert (directory / "g.bin").read_bytes() == b"old"
        assert os.listdir(directory) == ["g.bin"]
    finally:
        directory.chmod(0o755)


def test_save_replaces_a_file_whole_and_keeps_its_mode(tmp_path):
    needs("save", "load")
    target = tmp_path / "g.bin"
    target.write_bytes(b"x" * 100_000)
    target.chmod(0o640)
    link = tmp_path / "link.bin"
    link.symlink_to(target.name)
    graph_of(4).save(str(link))
    assert link.is_symlink() and stat.S_IMODE(target.stat().st_mode) == 0o640
    assert DAG.load(str(target)).edge_count() == 3
    assert leftovers(tmp_path, ["g.bin", "link.bin"]) == []


# -- reading files -------------------------------------------------------------------------------

def test_load_of_bad_files_fails_cleanly(tmp_path):
    needs("save", "load")
    good = tmp_path / "good.bin"
    graph_of(5).save(str(good))
    data = good.read_bytes()
    empty = tmp_path / "empty.bin"
    empty.write_bytes(b"")
    truncation = "Bincode read error: io error: failed to fill whole buffer"
    cases = {
        str(empty): truncation,
        str(tmp_path): f"Failed to mmap file {tmp_path}: No such device (os error 19)",
        str(tmp_path / "none.bin"):
            f"Failed to open file {tmp_path / 'none.bin'}: No such file or directory (os error 2)",
        "/dev/null": truncation,
    }
    for path, message in cases.items():
        with pytest.raises(GraphError) as error:
            DAG.load(path)
        assert str(error.value) == message
    # Every cut of a valid file fails with a read error, never with a crash or a half graph.
    cut = tmp_path / "cut.bin"
    for length in range(len(data)):
        cut.write_bytes(data[:length])
        with pytest.raises(GraphError, match="^Bincode read error: "):
            DAG.load(str(cut))
    assert DAG.load(str(good)).edges() == graph_of(5).edges()


def test_load_of_a_fifo_does_not_wait_for_a_writer(tmp_path):
    needs("load")
    fifo = tmp_path / "pipe"
    os.mkfifo(fifo)
    script = ("import sys\nfrom torvex import DAG, GraphError\n"
              "try:\n    DAG.load(sys.argv[1])\nexcept GraphError as e:\n    print(e)\n")
    done = subprocess.run([sys.executable, "-c", script, str(fifo)], capture_output=True,
                          text=True, timeout=60)
    assert done.stdout.strip() == "Bincode read error: io error: failed to fill whole buffer"


@pytest.mark.skipif(IS_ROOT, reason="root reads files whatever their mode")
def test_load_of_an_unreadable_file(tmp_path):
    needs("save", "load")
    path = tmp_path / "g.bin"
    graph_of(2).save(str(path))
    path.chmod(0)
    with pytest.raises(GraphError, match="^Failed to open file .*Permission denied"):
        DAG.load(str(path))
