"""The libraries under comparison, how each builds a graph, and their versions.

Peers get their inputs in the form they are fastest with: integer index pairs for rustworkx and
igraph, name pairs for networkx and graphlib. Each node carries its name as payload (rustworkx),
attribute (igraph) or key (networkx, graphlib), so every library holds the same content.
"""

import graphlib
import importlib
import importlib.metadata
import time

import torvex

LIBS = ("torvex", "rustworkx", "networkx", "igraph", "graphlib")
PEERS = LIBS[1:]


def _optional(module):
    try:
        return importlib.import_module(module)
    except ImportError:
        return None


rx = _optional("rustworkx")
nx = _optional("networkx")
ig = _optional("igraph")

MODULES = {"torvex": torvex, "rustworkx": rx, "networkx": nx, "igraph": ig, "graphlib": graphlib}


def available(lib):
    return MODULES[lib] is not None


def version(lib):
    if lib == "graphlib":
        return "standard library"
    try:
        return importlib.metadata.version({"igraph": "igraph"}.get(lib, lib))
    except importlib.metadata.PackageNotFoundError:
        return getattr(MODULES[lib], "__version__", "from the source tree")


class Partial:
    """A run stopped at its deadline after `done` of `total` units; its time is extrapolated.
    `bound`: the units get dearer as the run goes on (a growing graph), so the extrapolation is
    a lower bound; otherwise they are alike (random queries) and it is an estimate."""

    def __init__(self, done, total, bound=True):
        self.done, self.total, self.bound = done, total, bound


# --- construction -----------------------------------------------------------------------------


CHUNK = 25_000  # edges per call in the timed builds, so a slow build can stop at its deadline


def chunks(items):
    return [items[i:i + CHUNK] for i in range(0, len(items), CHUNK)]


def _add_in_chunks(graph, add, parts, budget):
    deadline = time.perf_counter() + budget
    for done, part in enumerate(parts, 1):
        add(part)
        if done < len(parts) and time.perf_counter() > deadline:
            return Partial(done, len(parts))
    return graph


def build_torvex(names, name_pairs, budget=None):
    """With a budget, name_pairs is a list of chunks (see chunks) and the build may stop early."""
    dag = torvex.DAG()
    dag.add_nodes(names)
    if budget is None:
        dag.add_edges(name_pairs)
        return dag
    return _add_in_chunks(dag, dag.add_edges, name_pairs, budget)


def build_rustworkx(names, index_pairs, check_cycle=False, budget=None):
    graph = rx.PyDAG(check_cycle=True) if check_cycle else rx.PyDiGraph()
    graph.add_nodes_from(names)
    if budget is None:
        graph.add_edges_from_no_data(index_pairs)
        return graph
    return _add_in_chunks(graph, graph.add_edges_from_no_data, index_pairs, budget)


def build_networkx(names, name_pairs):
    graph = nx.DiGraph()
    graph.add_nodes_from(names)
    graph.add_edges_from(name_pairs)
    return graph


def build_networkx_checked(names, name_pairs, budget):
    """What a networkx user writes to refuse cycles: a path test before each edge."""
    graph = nx.DiGraph()
    graph.add_nodes_from(names)
    deadline = time.perf_counter() + budget
    has_path, add_edge = nx.has_path, graph.add_edge
    for done, (a, b) in enumerate(name_pairs):
        if a == b or has_path(graph, b, a):
            raise ValueError(f"edge {a} -> {b} would close a cycle")
        add_edge(a, b)
        if time.perf_counter() > deadline:
            return Partial(done + 1, len(name_pairs))
    return graph


def build_igraph(names, index_pairs):
    graph = ig.Graph(n=len(names), edges=index_pairs, directed=True)
    graph.vs["name"] = names
    return graph


def build_graphlib(names, name_pairs):
    sorter = graphlib.TopologicalSorter()
    for name in names:
        sorter.add(name)
    for a, b in name_pairs:
        sorter.add(b, a)
    return sorter


def predecessor_map(names, name_pairs):
    """graphlib's own input form: node -> its predecessors."""
    preds = {name: [] for name in names}
    for a, b in name_pairs:
        preds[b].append(a)
    return preds


def build(lib, graph, order="random"):
    """The graph in library `lib`, built from `graph` (a graphs.Graph) without cycle checks where
    the library allows; torvex always checks."""
    if lib == "torvex":
        return build_torvex(graph.names, graph.name_pairs(order))
    if lib == "rustworkx":
        return build_rustworkx(graph.names, graph.index_pairs(order))
    if lib == "networkx":
        return build_networkx(graph.names, graph.name_pairs(order))
    if lib == "igraph":
        return build_igraph(graph.names, graph.index_pairs(order))
    if lib == "graphlib":
        return predecessor_map(graph.names, graph.name_pairs(order))
    raise ValueError(lib)
