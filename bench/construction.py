"""Time building a large graph from Python and ordering it.

Builds a graph of NODES nodes and EDGES edges with DAG.add_nodes and DAG.add_edges, runs
topological_sort on it, and compares the cost per item with creating the same number of plain
Python tuples (the input lists themselves).

    python bench/construction.py [nodes] [edges]
"""

import random
import sys

import torvex
from harness.clock import timed


def main():
    nodes = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
    edges = int(sys.argv[2]) if len(sys.argv) > 2 else 5_000_000
    rng = random.Random(42)
    names = [f"n{i}" for i in range(nodes)]

    # Edges go from a lower to a higher node number, so the graph is acyclic. Added in order of
    # their source, every target is still a leaf when its edge arrives, so each cycle test
    # stops at once.
    pairs = []
    for _ in range(edges):
        a = rng.randrange(nodes - 1)
        b = rng.randrange(a + 1, nodes)
        pairs.append((a, b))
    pairs.sort()

    node_items, t_node_tuples = timed(lambda: [(name, None) for name in names])
    edge_items, t_edge_tuples = timed(lambda: [(names[a], names[b]) for a, b in pairs])

    dag = torvex.DAG()
    _, t_add_nodes = timed(lambda: dag.add_nodes(node_items))
    _, t_add_edges = timed(lambda: dag.add_edges(edge_items))
    order, t_topo = timed(dag.topological_sort)
    _, t_topo_cached = timed(dag.topological_sort)
    assert len(order) == nodes and dag.edge_count() == edges

    def row(label, seconds, count, baseline=None):
        per_item = seconds / count * 1e9
        ratio = f"{per_item / baseline:6.1f}x tuple" if baseline else ""
        print(f"{label:32s} {seconds:8.3f} s {per_item:9.1f} ns/item {ratio}")
        return per_item

    print(f"graph: {nodes:,} nodes, {edges:,} edges")
    node_tuple_ns = row("create (name, payload) tuples", t_node_tuples, nodes)
    edge_tuple_ns = row("create (from, to) tuples", t_edge_tuples, edges)
    row("add_nodes", t_add_nodes, nodes, node_tuple_ns)
    row("add_edges", t_add_edges, edges, edge_tuple_ns)
    row("topological_sort", t_topo, nodes, node_tuple_ns)
    row("topological_sort (cached)", t_topo_cached, nodes, node_tuple_ns)


if __name__ == "__main__":
    main()
