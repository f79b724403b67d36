"""How late a signal stops each public call on a large graph.

One graph of 600,000 nodes and 3,000,000 edges (each node points at up to five later nodes
within the next hundred). For each call, a timer signal goes off at random moments of the
call's run; its handler raises KeyboardInterrupt as Ctrl-C's does, and the lateness is the time
from the moment the signal was due to the moment the exception reached Python, tearing down
whatever the call had built included. Reports the worst and the median of the tries, beside the
whole call's time. Every method that takes a costs or priorities dict gets one naming every
node. Calls that end within a few milliseconds whatever the graph's size are listed as
"instant" and not timed against a signal; calls that would not end in reasonable time or
memory here ("open": transitive_closure, all_paths without a limit) are stopped by the signal
within their first half second. At the end the graph must be byte for byte what it was. No peer
library takes part: this measures reaction, not speed.

    python bench/interrupt_bench.py [tries] [calls...]
"""

import os
import random
import signal
import statistics
import sys
import tempfile
import time

import torvex

NODES, EDGES, WINDOW = 600_000, 3_000_000, 100
# The reachability index holds V²/16 bytes (22 GB at 600,000 nodes): it gets a graph of its own.
INDEX_NODES = 150_000


def edge_list(rng, nodes, edges):
    found = set()
    while len(found) < edges:
        a = rng.randrange(nodes - 1)
        found.add((a, rng.randrange(a + 1, min(a + WINDOW, nodes))))
    return sorted(found)


def big_graph(rng, nodes=NODES):
    names = [f"node{i:07d}" for i in range(nodes)]
    items = [(names[a], names[b], 2.0 if (a + b) % 3 == 0 else 1.0)
             for a, b in edge_list(rng, nodes, nodes * EDGES // NODES)]
    dag = torvex.DAG()
    dag.add_nodes(names)
    dag.add_edges(items)
    return dag, names, items


class Call:
    """A call to time; `setup` runs before each try, outside the timing."""

    def __init__(self, run, setup=None, kind="whole"):
        self.run, self.setup, self.kind = run, setup, kind


def calls(dag, names, items, workdir):
    other = dag.snapshot()
    other.add_node("extra")
    small = torvex.DAG()
    small.add_nodes(["a", "b", "c"])
    small.add_edge("a", "b")
    half = names[::2]
    costs = {name: float(i % 7) for i, name in enumerate(names)}
    first, mid, last = names[0], names[NODES // 2], names[-1]
    indexed, indexed_names, _ = big_graph(random.Random(12), INDEX_NODES)
    index = {}

    def ensure_index():
        if not index:
            index["index"] = indexed.build_reachability_index()

    def on_index(method, *args):
        return lambda: getattr(index["index"], method)(*args)

    text = dag.to_json()
    data = dag.to_bytes()
    path = os.path.join(workdir, "graph.bin")
    saved = os.path.join(workdir, "saved.bin")
    dag.save(saved)
    fresh = {}

    def nodes_only():
        fresh["dag"] = torvex.DAG()
        fresh["dag"].add_nodes(names)

    def plain(value):
        return value

    whole = {
        # construction, on a graph of their own
        "add_nodes": Call(lambda: torvex.DAG().add_nodes(names)),
        "add_edges": Call(lambda: fresh["dag"].add_edges(items), setup=nodes_only),
        # introspection and container protocols
        "__iter__": Call(lambda: iter(dag)),
        "node_names": Call(dag.node_names),
        "edges": Call(dag.edges),
        "ancestors": Call(lambda: dag.ancestors(last)),
        "descendants": Call(lambda: dag.descendants(first)),
        "roots": Call(dag.roots),
        "leaves": Call(dag.leaves),
        "nodes": Call(dag.nodes),
        "iter_nodes": Call(lambda: dag.iter_nodes().collect()),
        "iter_roots": Call(lambda: dag.iter_roots().collect()),
        "iter_leaves": Call(lambda: dag.iter_leaves().collect()),
        "iter_ancestors": Call(lambda: dag.iter_ancestors(last).collect()),
        "iter_descendants": Call(lambda: dag.iter_descendants(first).collect()),
        "validate": Call(dag.validate),
        # orders and matching
        "topological_sort": Call(dag.topological_sort),
        "topological_sort_dfs": Call(dag.topological_sort_dfs),
        "all_topological_orderings": Call(lambda: dag.all_topological_orderings(50)),
        "topological_levels": Call(dag.topological_levels),
        "iter_topological_sort": Call(lambda: dag.iter_topological_sort().collect()),
        "iter_topological_levels": Call(lambda: dag.iter_topological_levels().collect()),
        "nodes_matching_regex": Call(lambda: dag.nodes_matching_regex(r"node\d+5$")),
        "nodes_matching_glob": Call(lambda: dag.nodes_matching_glob("node*5")),
        # scheduling, paths and partitions, each with a dict naming every node
        "topological_sort_priority": Call(lambda: dag.topological_sort_priority(costs)),
        "topological_levels_priority": Call(lambda: dag.topological_levels_priority(costs)),
        "execution_plan": Call(lambda: dag.execution_plan(costs)),
        "execution_plan_constrained": Call(lambda: dag.execution_plan_constrained(8, costs)),
        "bottom_levels": Call(lambda: dag.bottom_levels(costs)),
        "critical_path": Call(lambda: dag.critical_path(costs)),
        "all_paths": Call(lambda: dag.all_paths(first, names[400], 20_000)),
        "shortest_path": Call(lambda: dag.shortest_path(first, last)),
        "longest_path": Call(lambda: dag.longest_path(first, last, costs)),
        "partition_level_based": Call(lambda: dag.partition_level_based(8, costs)),
        "partition_balanced": Call(lambda: dag.partition_balanced(8, costs)),
        "partition_communication_min": Call(lambda: dag.partition_communication_min(8, costs)),
        # reachability
        "build_reachability_index": Call(indexed.build_reachability_index),
        "is_ancestor": Call(lambda: dag.is_ancestor(last, first)),
        "index.reachable_from": Call(on_index("reachable_from", indexed_names[0]), ensure_index),
        "index.ancestors_of": Call(on_index("ancestors_of", indexed_names[-1]), ensure_index),
        # incremental, statistics, subgraphs
        "dirty_set": Call(lambda: dag.dirty_set([first, mid])),
        "change_provenance": Call(lambda: dag.change_provenance([first, mid])),
        "stats": Call(dag.stats),
        "subgraph": Call(lambda: dag.subgraph(half)),
        "subgraph_by_depth": Call(lambda: dag.subgraph_by_depth(mid, 2000)),
        # formats
        "to_json": Call(dag.to_json),
        "to_json(serializer)": Call(lambda: dag.to_json(plain)),
        "from_json": Call(lambda: torvex.DAG.from_json(text)),
        "from_json(deserializer)": Call(lambda: torvex.DAG.from_json(text, plain)),
        "to_dot": Call(dag.to_dot),
        "to_dot(node_attrs)": Call(lambda: dag.to_dot(lambda name, payload: None)),
        "to_mermaid": Call(dag.to_mermaid),
        "to_bytes": Call(dag.to_bytes),
        "to_bytes(serializer)": Call(lambda: dag.to_bytes(plain)),
        "from_bytes": Call(lambda: torvex.DAG.from_bytes(data)),
        "from_bytes(deserializer)": Call(lambda: torvex.DAG.from_bytes(data, plain)),
        "save": Call(lambda: dag.save(path)),
        "save(serializer)": Call(lambda: dag.save(path, plain)),
        "load": Call(lambda: torvex.DAG.load(saved)),
        "load(deserializer)": Call(lambda: torvex.DAG.load(saved, plain)),
        # transforms and diff
        "reverse": Call(dag.reverse),
        "collapse": Call(lambda: dag.collapse(names[1000:2000], "summary")),
        "dominator_tree": Call(lambda: dag.dominator_tree(first)),
        "snapshot": Call(dag.snapshot),
        "transitive_reduction": Call(dag.transitive_reduction),
        "filter": Call(lambda: dag.filter(lambda name, payload: True)),
        "merge": Call(lambda: dag.merge(other)),
        "diff": Call(lambda: dag.diff(other)),
    }
    open_ended = {
        "transitive_closure": Call(dag.transitive_closure, kind="open"),
        "all_paths(no limit)": Call(lambda: dag.all_paths(first, names[2000]), kind="open"),
    }
    # Work bounded by a node's degree or a constant, whatever the graph's size.
    instant = {
        "DAG": lambda: torvex.DAG(),
        "generation": lambda: dag.generation,
        "cache_info": dag.cache_info,
        "clear_cache": dag.clear_cache,
        "add_node": lambda: torvex.DAG().add_node("x"),
        "node_ref": lambda: dag.node_ref(mid),
        "add_edge": lambda: small.add_edge("b", "c"),
        "remove_edge": lambda: small.remove_edge("b", "c"),
        "remove_node": lambda: (small.add_node("d"), small.remove_node("d")),
        "__len__": lambda: len(dag),
        "__bool__": lambda: bool(dag),
        "__contains__": lambda: mid in dag,
        "__getitem__": lambda: dag[mid],
        "__setitem__": lambda: small.__setitem__("a", 1),
        "has_node": lambda: dag.has_node(mid),
        "has_edge": lambda: dag.has_edge(first, mid),
        "node_count": dag.node_count,
        "edge_count": dag.edge_count,
        "get_payload": lambda: dag.get_payload(mid),
        "set_payload": lambda: small.set_payload("a", 2),
        "get_metadata": lambda: dag.get_metadata(mid),
        "set_metadata": lambda: small.set_metadata("a", 3),
        "predecessors": lambda: dag.predecessors(mid),
        "successors": lambda: dag.successors(mid),
        "in_degree": lambda: dag.in_degree(mid),
        "out_degree": lambda: dag.out_degree(mid),
        "index.can_reach": lambda: (ensure_index(), on_index("can_reach", *indexed_names[:2])()),
        "index.node_count": lambda: (ensure_index(), on_index("node_count")()),
    }
    return whole | open_ended, instant


def alarm(*_):
    raise KeyboardInterrupt


def lateness(call, at):
    """Seconds from the signal's due moment to the KeyboardInterrupt, which may come just after
    a call that never looked for it returned; None when the call ended before the signal was
    due."""
    if call.setup:
        call.setup()
    signal.signal(signal.SIGALRM, alarm)
    start = time.perf_counter()
    try:
        try:
            signal.setitimer(signal.ITIMER_REAL, at)
            call.run()
            ended = time.perf_counter()
        finally:
            signal.setitimer(signal.ITIMER_REAL, 0)
    except KeyboardInterrupt:
        return time.perf_counter() - (start + at)
    return None if ended < start + at else ended - (start + at)


def main():
    tries = int(sys.argv[1]) if len(sys.argv) > 1 else 10
    rng = random.Random(11)
    dag, names, items = big_graph(rng)
    with tempfile.TemporaryDirectory() as workdir:
        chosen, instant = calls(dag, names, items, workdir)
        wanted = sys.argv[2:] or list(chosen) + list(instant)
        before = (len(dag), dag.edge_count(), dag.generation, dag.to_bytes())
        print(f"{'call':28s} {'whole':>9s} {'worst':>9s} {'median':>9s} {'tries':>6s}")
        for label in wanted:
            if label in instant:
                start = time.perf_counter()
                instant[label]()
                whole = time.perf_counter() - start
                print(f"{label:28s} {whole * 1e3:7.3f}ms {'instant':>9s}")
                continue
            call = chosen[label]
            if call.kind == "open":
                late = [lateness(call, rng.uniform(0.05, 0.5)) for _ in range(tries)]
                whole_text = "open"
            else:
                if call.setup:
                    call.setup()
                start = time.perf_counter()
                call.run()
                whole = time.perf_counter() - start
                whole_text = f"{whole:8.3f}s"
                late = [lateness(call, rng.uniform(0.001, whole * 0.95)) for _ in range(tries)]
            late = [x for x in late if x is not None]
            if not late:
                print(f"{label:28s} {whole_text:>9s} {'-':>9s} {'-':>9s} {0:6d}")
                continue
            print(f"{label:28s} {whole_text:>9s} {max(late) * 1e3:7.1f}ms "
                  f"{statistics.median(late) * 1e3:7.1f}ms {len(late):6d}", flush=True)
        after = (len(dag), dag.edge_count(), dag.generation, dag.to_bytes())
        assert after == before, "an interrupted call changed the graph"


if __name__ == "__main__":
    main()
