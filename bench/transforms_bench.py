"""Time transitive reduction, transitive closure and the dominator tree against networkx.

Two kinds of graph, each at 10,000 and 100,000 nodes:
  - a forest of small random DAGs (25 nodes each, up to three edges from each node to a later
    one in its component, plus shortcuts), so that closures stay a few edges per node and
    networkx's reduction, which keeps a descendant set per node, fits in memory;
  - one rooted DAG in which every node has one to three predecessors among the 100 nodes
    before it, for the dominator tree (the root reaches everything).
Times cover the whole call, building the result graph included, on both sides; the ratio is
networkx time / torvex time (above 1: torvex is faster).

First, without a peer, the derived graphs of a layered build-like graph (100 nodes a stage, four
edges from the stage before, edges in random order) at 20,000 and 100,000 nodes, with its nodes
added in stage order and in random order: each call's time as a multiple of
`from_bytes(to_bytes())` of the same graph (a full rebuild). A new graph's node order says
nothing about its edges; copied edge by edge against it, they cost a search each (about 250x at
20,000 nodes, growing with the square), so a ratio far above 1 is that fault back.

    python bench/transforms_bench.py [sizes...]
"""

import random
import sys

import torvex
from harness.clock import timed

try:
    import networkx as nx
except ImportError:  # the comparison needs it; the bench is optional
    nx = None


def forest(n, rng, size=25):
    edges = set()
    for base in range(0, n, size):
        top = min(base + size, n)
        for i in range(base, top - 1):
            for _ in range(rng.randint(1, 3)):
                edges.add((i, rng.randrange(i + 1, min(i + 9, top))))
    return sorted(edges)


def rooted(n, rng, window=100):
    edges = set()
    for j in range(1, n):
        for _ in range(rng.randint(1, 3)):
            edges.add((rng.randrange(max(0, j - window), j), j))
    return sorted(edges)


def both(n, edges):
    names = [f"n{i}" for i in range(n)]
    dag = torvex.DAG()
    dag.add_nodes(names)
    dag.add_edges([(names[a], names[b]) for a, b in edges])
    g = nx.DiGraph()
    g.add_nodes_from(names)
    g.add_edges_from((names[a], names[b]) for a, b in edges)
    return dag, g


def layered(n, shuffled, rng, stage=100):
    names = [f"t{i}" for i in range(n)]
    edges = [(names[a], names[j]) for j in range(stage, n)
             for a in rng.sample(range((j // stage - 1) * stage, j // stage * stage), 4)]
    rng.shuffle(edges)
    dag = torvex.DAG()
    dag.add_nodes(rng.sample(names, n) if shuffled else names)
    dag.add_edges(edges)
    return dag, names


def derived_rows(sizes=(20_000, 100_000)):
    def best(fn):
        return min(timed(fn)[1] for _ in range(3))

    print(f"{'derived graph':22s} {'nodes':>8s} {'node order':>10s} {'torvex':>11s} "
          f"{'x rebuild':>9s}")
    for n in sizes:
        for shuffled in (False, True):
            dag, names = layered(n, shuffled, random.Random(n))
            rebuild = best(lambda: torvex.DAG.from_bytes(dag.to_bytes()))
            other = torvex.DAG()
            other.add_nodes(names[::7])
            calls = {"reverse": dag.reverse,
                     "collapse (one node)": lambda: dag.collapse([names[n // 2]], "summary"),
                     "transitive_reduction": dag.transitive_reduction,
                     "filter (keep all)": lambda: dag.filter(lambda name, payload: True),
                     "merge": lambda: dag.merge(other)}
            for label, call in calls.items():
                took = best(call)
                print(f"{label:22s} {n:>8,d} {'random' if shuffled else 'stage':>10s} "
                      f"{took:9.3f} s {took / rebuild:8.2f}x")


def row(label, n, ours, theirs):
    print(f"{label:22s} {n:>8,d} {ours:9.3f} s {theirs:9.3f} s {theirs / ours:8.1f}x")


def main():
    derived_rows()
    if nx is None:
        print("transforms_bench: networkx is not installed; nothing to compare (skipped)")
        return
    sizes = [int(a) for a in sys.argv[1:]] or [10_000, 100_000]
    rng = random.Random(7)
    print(f"{'operation':22s} {'nodes':>8s} {'torvex':>11s} {'networkx':>11s} {'ratio':>9s}")
    for n in sizes:
        dag, g = both(n, forest(n, rng))
        reduced, ours = timed(dag.transitive_reduction)
        expected, theirs = timed(lambda: nx.transitive_reduction(g))
        assert reduced.edge_count() == expected.number_of_edges()
        row("transitive_reduction", n, ours, theirs)

        closed, ours = timed(dag.transitive_closure)
        expected, theirs = timed(lambda: nx.transitive_closure_dag(g))
        assert closed.edge_count() == expected.number_of_edges()
        row("transitive_closure", n, ours, theirs)

        dag, g = both(n, rooted(n, rng))
        tree, ours = timed(lambda: dag.dominator_tree("n0"))
        expected, theirs = timed(lambda: nx.immediate_dominators(g, "n0"))
        # Recent networkx leaves the root out of its own map.
        assert dict(tree) == {"n0": "n0", **expected}
        row("dominator_tree", n, ours, theirs)


if __name__ == "__main__":
    main()
