"""Time dirty sets, change provenance and graph statistics against the networkx code a user
would write for them.

Incremental rebuilds: a build-like graph of MODULES modules of 100 targets each, every target
depending on up to three earlier targets of its module; 1% of the targets change. networkx
answers with descendants per changed node (the dirty set) and ancestors per dirty node (the
provenance). Statistics: a random graph of STATS_NODES nodes and twice as many edges, summed up
by DAG.stats and by the networkx calls that give the same numbers.

    python bench/incremental_bench.py [modules] [stats_nodes]

Without networkx the torvex timings are printed alone.
"""

import gc
import random
import sys
import time

import torvex

try:
    import networkx as nx
except ImportError:
    nx = None


def timed(fn, repeat=1):
    """The best of `repeat` runs, with the cyclic collector off."""
    gc.collect()
    gc.disable()
    try:
        best, result = float("inf"), None
        for _ in range(repeat):
            start = time.perf_counter()
            result = fn()
            best = min(best, time.perf_counter() - start)
        return result, best
    finally:
        gc.enable()


def row(label, ours, theirs):
    other = f"   networkx {theirs:9.4f} s {theirs / ours:8.1f}x faster" if theirs else ""
    print(f"{label:22s} torvex {ours:9.4f} s{other}")


def build(names, edges):
    dag = torvex.DAG()
    dag.add_nodes(names)
    dag.add_edges(edges)
    return dag


def nx_graph(names, edges):
    graph = nx.DiGraph()
    graph.add_nodes_from(names)
    graph.add_edges_from(edges)
    return graph


# --- incremental rebuilds ----------------------------------------------------------------------

def build_graph(modules, rng):
    names, edges = [], []
    for m in range(modules):
        base = len(names)
        names.extend(f"m{m}/t{j}" for j in range(100))
        for j in range(1, 100):
            for parent in {rng.randrange(j) for _ in range(rng.randint(1, 3))}:
                edges.append((names[base + parent], names[base + j]))
    return names, edges


def nx_dirty_set(graph, changed):
    dirty = set(changed)
    for node in changed:
        dirty |= nx.descendants(graph, node)
    return dirty


def nx_change_provenance(graph, changed):
    changed_set = set(changed)
    return {d: ([d] if d in changed_set else [])
            + [a for a in nx.ancestors(graph, d) if a in changed_set]
            for d in nx_dirty_set(graph, changed)}


def bench_incremental(modules, rng):
    names, edges = build_graph(modules, rng)
    changed = rng.sample(names, len(names) // 100)
    dag = build(names, edges)
    print(f"incremental: {len(names):,} nodes, {len(edges):,} edges, {len(changed):,} changed")

    dirty, t_dirty = timed(lambda: dag.dirty_set(changed), repeat=5)
    provenance, t_prov = timed(lambda: dag.change_provenance(changed), repeat=3)
    print(f"  dirty nodes: {len(dirty):,}; provenance entries: "
          f"{sum(map(len, provenance.values())):,}")
    nx_dirty = nx_prov = None
    if nx is not None:
        graph = nx_graph(names, edges)
        theirs, nx_dirty = timed(lambda: nx_dirty_set(graph, changed), repeat=5)
        assert theirs == set(dirty)
        theirs, nx_prov = timed(lambda: nx_change_provenance(graph, changed))
        assert {d: set(s) for d, s in theirs.items()} == {d: set(s) for d, s in provenance.items()}
    row("dirty_set", t_dirty, nx_dirty)
    row("change_provenance", t_prov, nx_prov)


# --- statistics --------------------------------------------------------------------------------

def nx_stats(graph):
    n, m = graph.number_of_nodes(), graph.number_of_edges()
    levels = list(nx.topological_generations(graph))
    ins = [d for _, d in graph.in_degree()]
    outs = [d for _, d in graph.out_degree()]
    components = nx.number_weakly_connected_components(graph)
    return {"node_count": n, "edge_count": m, "depth": len(levels),
            "width": max(map(len, levels)), "density": nx.density(graph),
            "longest_path_length": nx.dag_longest_path_length(graph),
            "max_in_degree": max(ins), "max_out_degree": max(outs),
            "root_count": ins.count(0), "leaf_count": outs.count(0),
            "component_count": components}


def bench_stats(nodes, rng):
    names = [f"n{i}" for i in range(nodes)]
    pairs = sorted({(a, rng.randrange(a + 1, min(nodes, a + 1000)))
                    for a in (rng.randrange(nodes - 1) for _ in range(2 * nodes))})
    edges = [(names[a], names[b]) for a, b in pairs]
    dag = build(names, edges)
    print(f"stats: {nodes:,} nodes, {len(edges):,} edges")
    stats, ours = timed(dag.stats, repeat=3)
    print(f"  {stats!r}")
    theirs = None
    if nx is not None:
        graph = nx_graph(names, edges)
        expected, theirs = timed(lambda: nx_stats(graph))
        assert {k: getattr(stats, k) for k in expected} == expected
    row("stats", ours, theirs)


def main():
    modules = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000
    stats_nodes = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
    if nx is None:
        print("networkx is not installed: torvex timings only")
    rng = random.Random(7)
    bench_incremental(modules, rng)
    bench_stats(stats_nodes, rng)


if __name__ == "__main__":
    main()
