"""Reachability and path queries from Python, against traversal and against networkx.

First, a random DAG of NODES nodes (about three edges per node, most of them short, some
long). Builds the ReachabilityIndex (time, memory) and runs QUERIES can_reach calls on random
pairs; compares the cost per answer with DAG.is_ancestor (a traversal per call) and with
networkx's has_path and descendants on the same graph, and prints after how many queries the
index has paid for its build.

Then all_paths with a limit on a wide layered DAG (LAYERS layers of WIDTH nodes, each
node joined to FANOUT nodes of the next layer), against networkx's all_simple_paths cut to the
same count.

    python bench/reachability_bench.py [nodes] [queries]

networkx is optional: without it those rows are skipped.
"""

import gc
import itertools
import random
import statistics
import sys
import time

import torvex

try:
    import networkx as nx
except ImportError:
    nx = None

SAMPLE = 2_000  # queries for the per-call peers, which are too slow for the full count
LAYERS, WIDTH, FANOUT, PATH_LIMIT = 30, 200, 6, 100_000


def timed(fn, repeat=1):
    """Median seconds of `repeat` runs of fn(), with the cyclic collector out of the way."""
    gc.collect()
    gc.disable()
    try:
        times, result = [], None
        for _ in range(repeat):
            start = time.perf_counter()
            result = fn()
            times.append(time.perf_counter() - start)
        return result, statistics.median(times)
    finally:
        gc.enable()


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096


def random_dag(nodes, rng):
    names = [f"n{i}" for i in range(nodes)]
    edges = []
    for a in range(nodes - 1):
        for _ in range(3):
            span = rng.randint(1, 50) if rng.random() < 0.9 else rng.randint(1, nodes)
            b = min(a + span, nodes - 1)
            edges.append((names[a], names[b]))
    return names, edges


def row(label, seconds, count, baseline_ns=None, unit="query", baseline="index"):
    per = seconds / count * 1e9
    ratio = f"{per / baseline_ns:10.1f}x {baseline}" if baseline_ns else ""
    print(f"  {label:38s} {seconds:9.3f} s {per:12.1f} ns/{unit:5s} {ratio}")
    return per


def reachability(nodes, queries, rng):
    names, edges = random_dag(nodes, rng)
    dag = torvex.DAG()
    dag.add_nodes(names)
    dag.add_edges(edges)
    print(f"reachability: {nodes:,} nodes, {len(edges):,} edges, {queries:,} queries")

    rss = resident_bytes()
    index, t_build = timed(dag.build_reachability_index, repeat=3)
    rss_delta = resident_bytes() - rss
    nominal = nodes * ((nodes + 63) // 64) * 8
    print(f"  build_reachability_index               {t_build:9.3f} s"
          f"   rows {nominal / 2**20:.1f} MiB nominal, resident +{rss_delta / 2**20:.1f} MiB")

    pairs = [(rng.choice(names), rng.choice(names)) for _ in range(queries)]
    sample = pairs[:SAMPLE]
    can_reach, is_ancestor = index.can_reach, dag.is_ancestor

    hits, t_index = timed(lambda: sum(can_reach(a, b) for a, b in pairs))
    print(f"  ({hits:,} of {queries:,} pairs reachable)")
    index_ns = row("ReachabilityIndex.can_reach", t_index, queries)
    _, t_loop = timed(lambda: sum(1 for a, b in pairs))
    row("  (the bare Python loop)", t_loop, queries)
    _, t_trav = timed(lambda: sum(is_ancestor(a, b) for a, b in sample))
    trav_ns = row("DAG.is_ancestor", t_trav, len(sample), index_ns)
    break_even = t_build * 1e9 / max(trav_ns - index_ns, 1e-9)
    print(f"  index build pays off after {break_even:,.0f} queries")

    sources = [a for a, _ in sample[:200]]
    _, t_reach = timed(lambda: [index.reachable_from(a) for a in sources])
    reach_ns = row("ReachabilityIndex.reachable_from", t_reach, len(sources))
    _, t_desc = timed(lambda: [dag.descendants(a) for a in sources])
    row("DAG.descendants", t_desc, len(sources), reach_ns)

    if nx is None:
        print("  networkx not installed: its rows are skipped")
        return
    g = nx.DiGraph()
    g.add_nodes_from(names)
    g.add_edges_from(edges)
    has_path = nx.has_path
    _, t_nx = timed(lambda: sum(has_path(g, a, b) for a, b in sample))
    row("networkx has_path", t_nx, len(sample), index_ns)
    _, t_nx_desc = timed(lambda: [nx.descendants(g, a) for a in sources])
    row("networkx descendants", t_nx_desc, len(sources), reach_ns)


def wide_paths(rng):
    layers = [[f"l{k}_{i}" for i in range(WIDTH)] for k in range(LAYERS)]
    edges = [("src", n) for n in layers[0]] + [(n, "sink") for n in layers[-1]]
    for upper, lower in zip(layers, layers[1:]):
        for n in upper:
            edges.extend((n, m) for m in rng.sample(lower, FANOUT))
    dag = torvex.DAG()
    dag.add_nodes(["src", "sink"] + [n for layer in layers for n in layer])
    dag.add_edges(edges)
    print(f"all_paths: {LAYERS} layers of {WIDTH} nodes, fan-out {FANOUT}, "
          f"{len(edges):,} edges, limit {PATH_LIMIT:,}")
    paths, t_paths = timed(lambda: dag.all_paths("src", "sink", PATH_LIMIT), repeat=3)
    assert len(paths) == PATH_LIMIT
    own_ns = row("DAG.all_paths (limit)", t_paths, PATH_LIMIT, unit="path")
    if nx is None:
        print("  networkx not installed: its row is skipped")
        return
    g = nx.DiGraph(edges)
    found, t_nx = timed(
        lambda: list(itertools.islice(nx.all_simple_paths(g, "src", "sink"), PATH_LIMIT)))
    assert len(found) == PATH_LIMIT
    row("networkx all_simple_paths (islice)", t_nx, PATH_LIMIT, own_ns, "path", "all_paths")


def main():
    nodes = int(sys.argv[1]) if len(sys.argv) > 1 else 20_000
    queries = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
    rng = random.Random(42)
    reachability(nodes, queries, rng)
    wide_paths(rng)


if __name__ == "__main__":
    main()
