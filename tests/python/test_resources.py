"""Failing calls leak nothing, exhausted memory is a MemoryError, and failing file writes and
reads are reported cleanly without harming what is already on disk."""

import gc
import os
import pathlib
import pwd
import shutil
import subprocess
import sys
import tempfile
import textwrap
import tracemalloc

import pytest

from conftest import SCRIPT_GRAPHS
from torvex import (DAG, CycleError, DuplicateNodeError, EdgeNotFoundError, GraphError,
                    NodeNotFoundError, StaleNodeRefError)

IS_ROOT = hasattr(os, "geteuid") and os.geteuid() == 0


def under_address_sanitizer():
    with open("/proc/self/maps") as f:
        return "libasan" in f.read()


def rss_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


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
    index = dag.build_reachability_index()

    def swallowed():  # the serializer's error is dropped, not raised
        dag.to_json(lambda p: 1 / 0)
        raise LookupError

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
        (lambda: dag.shortest_path("a", "zz"), NodeNotFoundError),
        (lambda: dag.longest_path("a", "c", {"a": payload}), TypeError),
        (lambda: dag.filter(lambda name, p: 1 / 0), ZeroDivisionError),
        (lambda: dag.merge(other, "keep_first", lambda n, p, q: 1 / 0), ZeroDivisionError),
        (lambda: dag.collapse(["a", "c"], "x", payload), CycleError),
        (lambda: dag.subgraph(["a", "b", "a"]), DuplicateNodeError),
        (lambda: dag.dominator_tree("zz"), NodeNotFoundError),
        (lambda: dag.nodes_matching_regex("("), GraphError),
        (lambda: dag.dirty_set(["a", "zz"]), NodeNotFoundError),
        (lambda: dag.diff(payload), TypeError),
        (lambda: DAG.from_json('{"nodes": [{"name": "x", "payload": 1}, '
                               '{"name": "x", "payload": 2}], "edges": []}',
                               lambda v: payload), DuplicateNodeError),
        (lambda: DAG.from_bytes(dag.to_bytes()[:-3], lambda v: payload), GraphError),
        (lambda: DAG.load("/nonexistent/graph.bin", lambda v: payload), GraphError),
        (lambda: index.can_reach("zz", "a"), NodeNotFoundError),
        (swallowed, LookupError),
    ]
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

MEMORY_SCRIPT = SCRIPT_GRAPHS + textwrap.dedent(r'''
    import resource, sys, threading

    case, in_thread = sys.argv[1], sys.argv[2] == "thread"
    # In a new thread, so little room that small allocations fail too, such as the C++ runtime's
    # per-thread state that the thread's first exception needs.
    headroom = (64 if in_thread else 256) << 20

    cases = {  # case: (graph, method, arguments)
        "reachability_index": (lambda: chain(120_000), "build_reachability_index", ()),
        "transitive_closure": (lambda: chain(40_000), "transitive_closure", ()),
        "all_orderings": (lambda: independent(16), "all_topological_orderings", ()),
        "all_paths": (lambda: ladder(40), "all_paths", ("top", "bottom")),
        "to_json": (lambda: chain(300_000), "to_json", ()),
    }
    build, method, arguments = cases[case]
    dag = build()
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
    assert done.stdout.strip() == "MemoryError"


# -- writing files -------------------------------------------------------------------------------

NON_ROOT_SCRIPT = textwrap.dedent(r'''
    import os, sys
    from torvex import DAG, GraphError

    if os.geteuid() == 0:  # everything is imported: now become the unprivileged user
        os.setgroups([])
        os.setgid(int(sys.argv[2]))
        os.setuid(int(sys.argv[2]))
    dag = DAG()
    dag.add_nodes(["a", "b"])
    for path in sys.argv[3:]:
        try:
            dag.save(os.path.join(sys.argv[1], path))
            print("saved")
        except GraphError as e:
            print(str(e).replace(sys.argv[1], "<dir>"))
''')


def test_save_where_no_file_can_replace_the_old_one(tmp_path):
    """A writable file in a read-only directory, or one owned by someone else in a sticky
    directory, is overwritten in place; what may not be written stays refused."""
    if IS_ROOT:
        try:
            user = pwd.getpwnam("nobody").pw_uid
        except KeyError:
            pytest.skip("no unprivileged user to save as")
        # tmp_path is closed to other users, and so may be TMPDIR: /tmp is open to all.
        base = pathlib.Path(tempfile.mkdtemp(dir="/tmp"))
    else:
        user, base = os.getuid(), tmp_path
    try:
        base.chmod(0o755)
        ro, sticky = base / "ro", base / "sticky"
        ro.mkdir()
        sticky.mkdir()
        sticky.chmod(0o1777)
        (ro / "mine.bin").write_bytes(b"old")
        (ro / "locked.bin").write_bytes(b"old")
        (ro / "locked.bin").chmod(0o444)
        os.chown(ro / "mine.bin", user, -1)
        os.chown(ro / "locked.bin", user, -1)
        ro.chmod(0o555)
        cases = ["ro/mine.bin", "ro/locked.bin", "ro/new.bin"]
        if IS_ROOT:  # a file of root's that the user may write
            (sticky / "theirs.bin").write_bytes(b"old")
            (sticky / "theirs.bin").chmod(0o666)
            cases.append("sticky/theirs.bin")
        inodes = {case: os.stat(base / case).st_ino for case in cases if (base / case).exists()}
        done = subprocess.run([sys.executable, "-c", NON_ROOT_SCRIPT, str(base), str(user),
                               *cases], capture_output=True, text=True, timeout=60)
        assert done.returncode == 0, done.stderr[-2000:]
        refused = "Failed to create file <dir>/{}: Permission denied (os error 13)"
        rewritten = ["ro/mine.bin"] + (["sticky/theirs.bin"] if IS_ROOT else [])
        assert done.stdout.splitlines() == [
            "saved", refused.format("ro/locked.bin"), refused.format("ro/new.bin"),
            *(["saved"] if IS_ROOT else [])]
        saved = DAG()
        saved.add_nodes(["a", "b"])
        for case in rewritten:
            assert (base / case).read_bytes() == saved.to_bytes()
            assert os.stat(base / case).st_ino == inodes[case]  # the same file, rewritten
        assert (ro / "locked.bin").read_bytes() == b"old"
        assert sorted(os.listdir(ro)) == ["locked.bin", "mine.bin"]
        if IS_ROOT:
            assert os.stat(sticky / "theirs.bin").st_uid == 0
            assert os.listdir(sticky) == ["theirs.bin"]
    finally:
        if (base / "ro").exists():
            (base / "ro").chmod(0o755)
        if base != tmp_path:
            shutil.rmtree(base)


FULL_DISK_SCRIPT = textwrap.dedent(r'''
    import os, subprocess, sys
    from torvex import DAG, GraphError

    kind, scratch = sys.argv[1], sys.argv[2]
    disk = os.path.join(scratch, "disk")
    os.mkdir(disk)
    if kind == "tmpfs":
        mount = ["mount", "-t", "tmpfs", "-o", "size=256k", "none", disk]
    else:
        image = os.path.join(scratch, "disk.img")
        with open(image, "wb") as f:
            f.truncate(2 << 20)
        if subprocess.run(["mkfs." + kind, "-q", image]).returncode:
            sys.exit(77)
        mount = ["mount", "-o", "loop", image, disk]
    if subprocess.run(mount).returncode:
        sys.exit(77)
    path, twin = os.path.join(disk, "g.bin"), os.path.join(disk, "twin.bin")
    old = DAG()
    old.add_nodes([(f"old{i}", i) for i in range(100)])
    old.save(path, lambda p: p)
    os.link(path, twin)  # a file with two names is rewritten in place
    big = DAG()
    big.add_nodes([f"node{i:07d}" for i in range(200_000)])  # more than the disk holds
    free = os.statvfs(disk).f_bfree
    for serializer in [None, lambda p: p]:
        try:
            big.save(path, serializer)
        except GraphError as e:
            print(e)
        for name in [path, twin]:
            back = DAG.load(name, lambda p: p)
            assert [back[f"old{i}"] for i in range(100)] == list(range(100))
        # The space claimed for the save is given back (ext4 may keep a block of its own).
        assert os.statvfs(disk).f_bfree >= free - 4, (free, os.statvfs(disk).f_bfree)
    assert set(os.listdir(disk)) - {"lost+found"} == {"g.bin", "twin.bin"}
''')


@pytest.mark.skipif(not IS_ROOT or shutil.which("unshare") is None,
                    reason="needs root and unshare to mount a small file system")
@pytest.mark.parametrize("kind", ["tmpfs", "ext4"])
def test_save_in_place_on_a_full_disk_keeps_the_old_file(tmp_path, kind):
    # A private mount namespace: the small file system goes away with the process.
    done = subprocess.run(["unshare", "--mount", "--propagation", "private", sys.executable, "-c",
                           FULL_DISK_SCRIPT, kind, str(tmp_path)],
                          capture_output=True, text=True, timeout=60)
    if done.returncode == 77 or done.stderr.startswith("unshare:"):
        pytest.skip(f"cannot mount a file system here: {done.stderr.strip()[-200:]}")
    assert done.returncode == 0, done.stderr[-2000:]
    full = "Bincode write error: io error: No space left on device (os error 28)"
    assert done.stdout.splitlines() == [full, full]


FSIZE_SCRIPT = textwrap.dedent(r'''
    import os, resource, sys
    from torvex import DAG, GraphError

    directory = sys.argv[1]
    old = DAG()
    old.add_nodes([(f"old{i}", i) for i in range(100)])
    big = DAG()
    big.add_nodes([f"node{i:07d}" for i in range(20_000)])
    plain, linked = os.path.join(directory, "plain.bin"), os.path.join(directory, "linked.bin")
    for path in [plain, linked]:
        old.save(path, lambda p: p)
    os.link(linked, linked + ".twin")  # a file with two names is rewritten in place
    kept = open(linked, "rb").read()
    length = len(big.to_bytes())
    for limit in [length - 1, length]:
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, resource.RLIM_INFINITY))
        for path in [plain, linked]:
            try:
                big.save(path)
                print("saved")
                assert open(path, "rb").read() == big.to_bytes()
            except GraphError as e:
                print(e)
                assert open(path, "rb").read() == kept
    print(*sorted(os.listdir(directory)))
''')


def test_save_over_the_file_size_limit_keeps_the_old_file(tmp_path):
    done = subprocess.run([sys.executable, "-c", FSIZE_SCRIPT, str(tmp_path)],
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr[-2000:]
    too_large = "Bincode write error: io error: File too large (os error 27)"
    assert done.stdout.splitlines() == [too_large, too_large, "saved", "saved",
                                        "linked.bin linked.bin.twin plain.bin"]


PIPE_SCRIPT = textwrap.dedent(r'''
    import os, signal, sys, threading, time
    from torvex import DAG

    case, fifo, serializer = sys.argv[1], sys.argv[2], (lambda p: p) if sys.argv[3] == "1" else None
    os.mkfifo(fifo)
    dag = DAG()
    dag.add_nodes([(f"node{i:06d}", i) for i in range(50_000)])  # far more than a pipe holds
    expected = dag.to_bytes(serializer)

    def read_all():
        with open(fifo, "rb") as f:
            return f.read()

    if case == "thread":
        # Reading needs the interpreter lock between reads: a save that kept it while the pipe
        # is full would wait for this thread forever, and this thread for it.
        saver = threading.Thread(target=dag.save, args=(fifo, serializer))
        saver.start()
        data = read_all()
        saver.join()
        print(data == expected)
    else:
        # Signals reach this thread while its save waits for a reader to open the pipe.
        raising, hits, data = case == "raising", [], []

        def handler(signum, frame):
            hits.append(signum)
            if raising and len(hits) == 1:
                raise ValueError("stop")

        def signaller():
            while len(hits) < 5:
                time.sleep(0.05)
                signal.pthread_kill(threading.main_thread().ident, signal.SIGUSR1)
            data.append(read_all())

        signal.signal(signal.SIGUSR1, handler)
        reader = threading.Thread(target=signaller, daemon=True)
        try:
            reader.start()
            dag.save(fifo, serializer)
            reader.join()
            print(len(hits) >= 5, data == [expected])
        except Exception as e:  # the handler's error alone, or a failed save
            print(repr(e), e.__context__, os.listdir(os.path.dirname(fifo)), flush=True)
            os._exit(0)  # no reader will come
''')


@pytest.mark.parametrize("serializer", [False, True])
def test_save_into_a_pipe_waits_without_the_lock_and_runs_signal_handlers(tmp_path, serializer):
    outputs = {}
    for case in ["thread", "signals", "raising"]:
        (tmp_path / case).mkdir()
        done = subprocess.run([sys.executable, "-c", PIPE_SCRIPT, case, str(tmp_path / case / "p"),
                               "1" if serializer else "0"],
                              capture_output=True, text=True, timeout=120)
        assert done.returncode == 0, (case, done.stderr[-2000:])
        outputs[case] = done.stdout.split("\n")[:-1]
    assert outputs == {
        "thread": ["True"],
        "signals": ["True True"],  # handlers ran, the save went on
        "raising": ["ValueError('stop') None ['p']"],  # the handler's error alone
    }


# -- reading files -------------------------------------------------------------------------------

REWRITTEN_SCRIPT = textwrap.dedent(r'''
    import os, subprocess, sys
    from torvex import DAG, TorvexError

    path = sys.argv[1]
    dag = DAG()
    dag.add_nodes([f"node{i:06d}" for i in range(100_000)])
    dag.add_edges([(f"node{i:06d}", f"node{i + 1:06d}") for i in range(99_999)])
    dag.save(path)
    # Another process keeps cutting the file short and writing it again, until this one ends.
    rewriter = subprocess.Popen([sys.executable, "-c", """if True:
        import os, sys
        path, parent = sys.argv[1], os.getppid()
        data = open(path, "rb").read()
        fd = os.open(path, os.O_WRONLY)
        while os.getppid() == parent:
            os.ftruncate(fd, 0)
            os.pwrite(fd, data, 0)
        """, path])
    outcomes = set()
    try:
        for i in range(40):
            try:
                loaded = DAG.load(path, (lambda v: v) if i % 2 else None)
                outcomes.add("loaded" if loaded.edges() == dag.edges() else "wrong graph")
            except TorvexError as e:
                outcomes.add(type(e).__name__)
    finally:
        rewriter.kill()
    print(" ".join(sorted(outcomes)))
''')


def test_load_while_another_process_rewrites_the_file(tmp_path):
    done = subprocess.run([sys.executable, "-c", REWRITTEN_SCRIPT, str(tmp_path / "g.bin")],
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr[-2000:]
    # Each load sees some state of the file: the whole graph, or a cut one (a read error).
    assert set(done.stdout.split()) <= {"loaded", "GraphError"}


KILLED_SCRIPT = textwrap.dedent(r'''
    import os, random, signal, sys, time
    from torvex import DAG, TorvexError

    path, rounds, mode, nodes = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4])
    in_place = mode == "in-place"
    folder, twin = os.path.dirname(path), path + ".twin" if in_place else path

    def graph(payload):
        dag = DAG()
        dag.add_nodes([(f"node{i:06d}", payload) for i in range(nodes)])
        dag.add_edges([(f"node{i:06d}", f"node{i + 1:06d}") for i in range(0, nodes - 1, 2)])
        return dag

    same = lambda p: p
    old, new = graph("AAAAAAAA"), graph("BBBBBBBB")
    old_bytes, new_bytes = old.to_bytes(same), new.to_bytes(same)
    old.save(path, same)
    if in_place:
        os.link(path, twin)  # a file with two names is rewritten in place

    def save_new():
        pid = os.fork()
        if pid == 0:
            try:
                new.save(path, same)
            finally:
                os._exit(0)
        return pid

    started = time.monotonic()
    os.waitpid(save_new(), 0)
    took = time.monotonic() - started  # only to spread the kills over a whole save
    rng = random.Random(7)
    outcomes, stray = {}, {"partial": 0, "whole": 0}
    for _ in range(rounds):
        with open(path, "r+b") as f:
            f.write(old_bytes)
            f.truncate()
        pid = save_new()
        time.sleep(rng.uniform(0, 1.2 * took))
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
        for name in set(os.listdir(folder)) - {os.path.basename(path), os.path.basename(twin)}:
            with open(os.path.join(folder, name), "rb") as f:
                stray["whole" if f.read() == new_bytes else "partial"] += 1
            os.unlink(os.path.join(folder, name))
        with open(twin, "rb") as f:
            outcome = {old_bytes: "old", new_bytes: "new"}.get(f.read())
        if outcome is None:
            try:
                DAG.load(twin, same)
                outcome = "mixed"
            except TorvexError:
                outcome = "refused"
        outcomes[outcome] = outcomes.get(outcome, 0) + 1
    print(" ".join(f"{k}={n}" for k, n in sorted(outcomes.items())))
    print(stray["partial"], stray["whole"] <= 1)
''')


def test_a_killed_in_place_save_leaves_the_old_graph_the_new_one_or_a_refused_file(tmp_path):
    done = subprocess.run([sys.executable, "-c", KILLED_SCRIPT, str(tmp_path / "g.bin"), "40",
                           "in-place", "200000"], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr[-2000:]
    outcomes = dict(item.split("=") for item in done.stdout.splitlines()[0].split())
    assert set(outcomes) <= {"old", "new", "refused"}, outcomes
    assert done.stdout.splitlines()[1] == "0 True"


# -- files shared between processes --------------------------------------------------------------

SHARED_SCRIPT = textwrap.dedent(r'''
    import os, sys
    from torvex import DAG

    path, nodes, rounds = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    twin = path + ".twin"
    same = lambda p: p

    def graph(tag):
        dag = DAG()
        dag.add_nodes([(f"{tag}{i:06d}", tag * 8) for i in range(nodes)])
        dag.add_edges([(f"{tag}{i:06d}", f"{tag}{i + 1:06d}", 0.5, tag)
                       for i in range(0, nodes - 1, 2)])
        return dag

    graphs = [graph(tag) for tag in "AB"]
    saved = {dag.to_bytes(same) for dag in graphs}
    graphs[0].save(path, same)
    os.link(path, twin)  # a file with two names is rewritten in place

    def child(work):
        pid = os.fork()
        if pid == 0:
            try:
                work()
            finally:
                os._exit(0)
        return pid

    def wait(pids):
        assert all(os.waitpid(pid, 0)[1] == 0 for pid in pids)

    # Two writers let go at the same moment.
    mixed = 0
    for _ in range(rounds):
        go, let_go = os.pipe()
        pids = [child(lambda dag=dag: (os.read(go, 1), dag.save(twin, same))) for dag in graphs]
        os.write(let_go, b"go")
        wait(pids)
        os.close(go)
        os.close(let_go)
        with open(path, "rb") as f:
            mixed += f.read() not in saved

    # Readers while a writer saves in place again and again; each tells what it saw.
    print(mixed, flush=True)
    done = path + ".done"

    def reader():
        seen = {"saved": 0, "other": 0, "refused": 0}
        while not seen["saved"] or not os.path.exists(done):
            try:
                seen["saved" if DAG.load(twin, same).to_bytes(same) in saved else "other"] += 1
            except Exception:
                seen["refused"] += 1
        os.write(1, f"{seen['other']} {seen['refused']}\n".encode())

    readers = [child(reader) for _ in range(3)]
    wait([child(lambda: [graphs[i % 2].save(path, same) for i in range(rounds)])])
    open(done, "w").close()
    wait(readers)
''')


def test_concurrent_in_place_saves_and_loads_see_only_saved_graphs(tmp_path):
    """Rewrites in place exclude each other and loads: two writers leave one of their graphs,
    and a load during a rewrite waits for it."""
    done = subprocess.run([sys.executable, "-c", SHARED_SCRIPT, str(tmp_path / "g.bin"),
                           "5000", "40"], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr[-2000:]
    assert done.stdout.splitlines() == ["0"] + ["0 0"] * 3


LOCK_WAIT_SCRIPT = textwrap.dedent(r'''
    import sys
    from torvex import DAG

    path, what = sys.argv[1], sys.argv[2]
    dag = DAG()
    dag.add_node("new")
    print("waiting", flush=True)
    try:
        DAG.load(path) if what == "load" else dag.save(path)
        print("done")
    except KeyboardInterrupt:
        print("interrupted")
''')


@pytest.mark.parametrize("what", ["load", "save"])
def test_a_wait_for_the_lock_answers_ctrl_c(tmp_path, what):
    """A load waits while a rewrite in place holds the file, and such a rewrite while a load
    reads it; Ctrl-C ends the wait with KeyboardInterrupt, the file as it was."""
    import fcntl
    import signal
    import time

    path = tmp_path / "g.bin"
    old = DAG()
    old.add_node("old")
    old.save(str(path))
    os.link(path, tmp_path / "twin")
    with open(path, "rb") as holder:
        fcntl.flock(holder, fcntl.LOCK_EX if what == "load" else fcntl.LOCK_SH)
        child = subprocess.Popen([sys.executable, "-c", LOCK_WAIT_SCRIPT, str(path), what],
                                 stdout=subprocess.PIPE, text=True)
        assert child.stdout.readline() == "waiting\n"
        time.sleep(0.3)
        assert child.poll() is None  # still waiting
        child.send_signal(signal.SIGINT)
        out, _ = child.communicate(timeout=30)
    assert out == "interrupted\n"
    assert path.read_bytes() == old.to_bytes()
    done = subprocess.run([sys.executable, "-c", LOCK_WAIT_SCRIPT, str(path), what],
                          capture_output=True, text=True, timeout=60)
    assert done.stdout == "waiting\ndone\n", done.stderr[-2000:]


def test_a_load_waits_for_the_lock_without_the_interpreter_lock(tmp_path):
    """The holder of the lock may need the interpreter lock to let go of it."""
    path = tmp_path / "g.bin"
    DAG().save(str(path))
    script = textwrap.dedent(r'''
        import fcntl, sys, threading, time
        from torvex import DAG
        with open(sys.argv[1], "rb") as holder:
            fcntl.flock(holder, fcntl.LOCK_EX)  # as a rewrite in place holds it
            loader = threading.Thread(target=lambda: print(DAG.load(sys.argv[1]).node_count()))
            loader.start()
            time.sleep(0.2)
            print("released", flush=True)
        loader.join()
    ''')
    done = subprocess.run([sys.executable, "-c", script, str(path)], capture_output=True,
                          text=True, timeout=60)
    assert done.stdout == "released\n0\n", done.stderr[-2000:]


def test_a_serializer_may_load_the_file_it_is_saved_over(tmp_path):
    path = str(tmp_path / "g.bin")
    script = "\n".join([
        "import os, sys; from torvex import DAG",
        "path = sys.argv[1]; dag = DAG(); dag.add_node('a', 1); dag.save(path)",
        "os.link(path, path + '.twin')  # rewritten in place",
        "dag.save(path, lambda p: DAG.load(path).node_count())",
        "print(DAG.load(path, lambda v: v).get_payload('a'))"])
    done = subprocess.run([sys.executable, "-c", script, path], capture_output=True, text=True,
                          timeout=60)
    assert done.stdout == "1\n", done.stderr[-2000:]


@pytest.mark.parametrize("where", ["tmp_path", "/dev/shm"])
def test_a_killed_save_leaves_no_temporary_file(tmp_path, where):
    if where != "tmp_path" and not os.path.isdir(where):
        pytest.skip(f"no {where}")
    folder = tmp_path if where == "tmp_path" else pathlib.Path(tempfile.mkdtemp(dir=where))
    try:
        done = subprocess.run([sys.executable, "-c", KILLED_SCRIPT, str(folder / "g.bin"), "30",
                               "ordinary", "50000"], capture_output=True, text=True, timeout=300)
        assert done.returncode == 0, done.stderr[-2000:]
        outcomes, strays = done.stdout.splitlines()
        assert {item.split("=")[0] for item in outcomes.split()} <= {"old", "new"}
        # No stray file. Only a kill in the instant between giving the whole new file a name
        # and renaming it over the old one leaves that name.
        assert strays == "0 True"
    finally:
        if folder != tmp_path:
            shutil.rmtree(folder)
