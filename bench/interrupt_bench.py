"""How late a signal stops the long copying calls of a large graph.

One graph of 600,000 nodes and 3,000,000 edges (each node points at up to five later nodes
within the next hundred). For each call, a timer signal goes off at random moments of the
call's run; its handler raises KeyboardInterrupt as Ctrl-C's does, and the lateness is the time
from the moment the signal was due to the moment the exception reached Python, tearing down
whatever the call had built included. Reports the worst and the median of the tries, beside the
whole call's time. No peer library takes part: this measures reaction, not speed.

    python bench/interrupt_bench.py [tries] [calls...]
"""

import random
import signal
import statistics
import sys
import time

import torvex

NODES, EDGES, WINDOW = 600_000, 3_000_000, 100


def big_graph(rng):
    names = [f"node{i:07d}" for i in range(NODES)]
    edges = set()
    while len(edges) < EDGES:
        a = rng.randrange(NODES - 1)
        edges.add((a, rng.randrange(a + 1, min(a + WINDOW, NODES))))
    dag = torvex.DAG()
    dag.add_nodes(names)
    dag.add_edges([(names[a], names[b], 2.0 if (a + b) % 3 == 0 else 1.0) for a, b in sorted(edges)])
    return dag, names


def calls(dag, names):
    other = dag.snapshot()
    other.add_node("extra")
    half = names[::2]
    return {
        "collapse": lambda: dag.collapse(names[1000:2000], "summary"),
        "subgraph": lambda: dag.subgraph(half),
        "diff": lambda: dag.diff(other),
        "to_dot": lambda: dag.to_dot(),
    }


def alarm(*_):
    raise KeyboardInterrupt


def lateness(call, at):
    """Seconds from the signal's due moment to the KeyboardInterrupt, which may come just after
    a call that never looked for it returned; None when the call ended before the signal was
    due."""
    signal.signal(signal.SIGALRM, alarm)
    start = time.perf_counter()
    try:
        try:
            signal.setitimer(signal.ITIMER_REAL, at)
            call()
            ended = time.perf_counter()
        finally:
            signal.setitimer(signal.ITIMER_REAL, 0)
    except KeyboardInterrupt:
        return time.perf_counter() - (start + at)
    return None if ended < start + at else ended - (start + at)


def main():
    tries = int(sys.argv[1]) if len(sys.argv) > 1 else 20
    rng = random.Random(11)
    dag, names = big_graph(rng)
    chosen = calls(dag, names)
    wanted = sys.argv[2:] or list(chosen)
    before = (len(dag), dag.edge_count(), dag.generation)
    print(f"{'call':10s} {'whole':>9s} {'worst':>9s} {'median':>9s} {'tries':>6s}")
    for label in wanted:
        call = chosen[label]
        start = time.perf_counter()
        call()
        whole = time.perf_counter() - start
        late = [lateness(call, rng.uniform(0.001, whole * 0.95)) for _ in range(tries)]
        late = [x for x in late if x is not None]
        print(f"{label:10s} {whole:8.3f}s {max(late) * 1e3:7.1f}ms "
              f"{statistics.median(late) * 1e3:7.1f}ms {len(late):6d}")
    assert (len(dag), dag.edge_count(), dag.generation) == before


if __name__ == "__main__":
    main()
