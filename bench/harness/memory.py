"""Peak memory of building one graph, measured in a fresh process per library.

The child draws the graph, prepares the library's input lists, resets the kernel's peak-RSS mark
(/proc/self/clear_refs), builds the graph and reports how far the peak rose above the resident
size just before the build. The inputs stay alive throughout, so the figure is what the library
adds: its own structure, copies of names it keeps, and transient conversion memory.

    python -m harness.memory LIB SHAPE N     (prints one JSON line)
"""

import gc
import json
import subprocess
import sys


def _status(field):
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise RuntimeError(f"{field} not in /proc/self/status")


def _reset_peak():
    try:
        with open("/proc/self/clear_refs", "w") as refs:
            refs.write("5")
        return True
    except OSError:
        return False


def child(lib, shape, n):
    from . import libraries as L
    from .graphs import Graph

    graph = Graph(shape, n)
    names, m = graph.names, graph.m
    # Every Python object made here stays alive: memory freed now would be reused by the build
    # without raising the peak, and hide part of its cost.
    src, dst = graph.src.tolist(), graph.dst.tolist()
    if lib in ("torvex", "networkx", "graphlib"):
        pairs = [(names[a], names[b]) for a, b in zip(src, dst)]
    else:
        pairs = list(zip(src, dst))
    del graph  # its arrays are large enough to go back to the system at once
    gc.collect()
    exact = _reset_peak()
    before = _status("VmRSS") if exact else _status("VmHWM")
    if lib == "torvex":
        built = L.build_torvex(names, pairs)
    elif lib == "rustworkx":
        built = L.build_rustworkx(names, pairs)
    elif lib == "networkx":
        built = L.build_networkx(names, pairs)
    elif lib == "igraph":
        built = L.build_igraph(names, pairs)
    else:
        built = L.build_graphlib(names, pairs)
    peak = _status("VmHWM")
    after = _status("VmRSS")
    report = {"lib": lib, "shape": shape, "n": n, "m": m, "peak": peak - before,
              "retained": after - before, "exact": exact}
    if lib == "torvex" and shape == "wide" and exact:
        # The first of all orderings, against the graph's own memory; the result is counted.
        _reset_peak()
        before = _status("VmRSS")
        first = built.all_topological_orderings(1)
        report["ordering_peak"] = _status("VmHWM") - before
        del first
    del built
    return report


def measure(lib, shape, n, cwd):
    """Runs the child for one library; its report, or None with the reason on failure."""
    done = subprocess.run([sys.executable, "-m", "harness.memory", lib, shape, str(n)], cwd=cwd,
                          capture_output=True, text=True)
    if done.returncode != 0:
        return None, (done.stderr.strip().splitlines() or ["failed"])[-1]
    return json.loads(done.stdout.strip().splitlines()[-1]), None


if __name__ == "__main__":
    print(json.dumps(child(sys.argv[1], sys.argv[2], int(sys.argv[3]))))
