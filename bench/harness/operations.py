"""The operations timed, each with one implementation per library that has an equivalent.

An implementation takes the Context and returns (run, summarize): run() is the timed call;
summarize(result), called once outside the timing, reduces the result to a value that must be the
same for every library (a count, lengths, a validity flag), so the table never compares different
work. Untimed setup (clearing torvex's cache, preparing inputs) happens before run is returned.
A torvex method that is not there yet makes its implementation absent (hasattr), so the harness
grows as methods land.
"""

import fractions
import gc
import json
import os
import pickle
import tempfile
import time

import numpy as np

import torvex
from . import libraries as L
from .libraries import graphlib, nx, rx

QUERY_NODES = 8  # ancestors, descendants, paths
REACH_QUERIES = 10_000
SMALL = 2_000  # for operations whose output grows with the square of the graph


class Op:
    def __init__(self, key, title, group, shapes=("random",), orders=("random",), exponent=1.0,
                 small_only=False, note="", budget_scale=1.0, self_limiting=False,
                 extra_sizes=(), reps=None, columns=None):
        self.key, self.title, self.group = key, title, group
        self.reps = reps  # repetitions whatever the size: short runs need many against noise
        self.extra_sizes = extra_sizes  # run at these node counts too, whatever the sizes
        # Ways of doing the same work in torvex (or against plain Python) instead of libraries:
        # the first is the reference that the others are compared with.
        self.columns = columns
        self.shapes, self.orders, self.exponent = shapes, orders, exponent
        # a target is set on some slow operations: they may run once for this many budgets
        self.budget_scale = budget_scale
        self.small_only, self.note = small_only, note
        self.self_limiting = self_limiting  # every run stops at its own deadline: never skipped
        self.impls = {}  # lib -> (fn(ctx, order), max_n)

    def impl(self, lib, needs=None, max_n=None):
        """Registers fn for lib when the library is installed and torvex has method `needs`."""
        def register(fn):
            known = lib in (self.columns or ()) or L.available(lib)
            if known and (needs is None or hasattr(torvex.DAG, needs)):
                self.impls[lib] = (fn, max_n)
            return fn
        return register

    @property
    def reference(self):
        return self.columns[0] if self.columns else "torvex"

    def libs_for(self, n):
        return [lib for lib, (_, max_n) in self.impls.items() if max_n is None or n <= max_n]

    def runs_at(self, n, shape):
        return shape in self.shapes and (n == SMALL) == self.small_only


OPS = []


def op(*args, **kwargs):
    new = Op(*args, **kwargs)
    OPS.append(new)
    return new


class Context:
    """One graph, its inputs per insertion order, the graphs built from it per library, and the
    query sets; everything is made on first use and reused by later operations."""

    def __init__(self, graph, budget):
        self.graph, self.budget = graph, budget
        self._built, self._inputs = {}, {}

    def inputs(self, order):
        """(name pairs, index pairs) in the order, each also cut into chunks."""
        if order not in self._inputs:
            names, indices = self.graph.name_pairs(order), self.graph.index_pairs(order)
            self._inputs = {order: (names, indices, L.chunks(names), L.chunks(indices))}
        return self._inputs[order]

    def built(self, lib):
        # Sources first: the same graph, and the cheapest order for every checked insertion.
        if lib not in self._built:
            self._built[lib] = L.build(lib, self.graph, "sources-first")
        return self._built[lib]

    def release(self):
        for path in list(_TMP_FILES):
            if os.path.exists(path):
                os.remove(path)
        self._built.clear()
        self._inputs.clear()
        gc.collect()

    # --- query sets, all given as node ids ---

    def spread(self):
        return self.graph.spread_nodes(QUERY_NODES)

    def path_pairs(self):
        """Pairs (u, v) with a path from u to v: u early in the order, v a descendant of it."""
        if "pairs" not in self._built:
            dag, names = self.built("torvex"), self.graph.names
            rng = np.random.default_rng(7)
            pairs = []
            for u in self.graph.spread_nodes(2 * QUERY_NODES)[:QUERY_NODES]:
                below = dag.descendants(names[u])
                if below:
                    pairs.append((u, below[int(rng.integers(len(below)))].index))
            self._built["pairs"] = pairs
        return self._built["pairs"]

    def costs(self):
        if "costs" not in self._built:
            rng = np.random.default_rng(11)
            self._built["costs"] = (1.0 + 9.0 * rng.random(self.graph.n)).round(3).tolist()
        return self._built["costs"]

    def root(self):
        return int(self.graph.node_at[0])


def ids_of(names):
    return [int(name[1:]) for name in names]


def torvex_ids(nodes):
    # nodes are added in id order to a fresh graph, so the slot index is the id
    return [node.index for node in nodes]


def valid_order(ctx, ids):
    g = ctx.graph
    if len(ids) != g.n:
        return False
    pos = np.empty(g.n, dtype=np.int64)
    pos[np.asarray(ids, dtype=np.int64)] = np.arange(g.n)
    return bool(np.all(pos[g.src] < pos[g.dst]))


def level_sizes(levels):
    return tuple(len(level) for level in levels)


# --- construction ---------------------------------------------------------------------------

ALL_SHAPES = ("random", "layered", "chain")
build_checked = op("build-checked", "build, refusing cycles", "construction", shapes=ALL_SHAPES,
                   orders=("random", "sources-first", "sinks-first"))
build_plain = op("build-plain", "build; peers without any check (lower bound)", "construction")
build_names = op("build-names", "build refusing cycles from name pairs", "construction",
                 note="rustworkx maps the names to indices in Python first, as a user with "
                 "named nodes must")


def _counts(graph_or_partial, nodes, edges):
    if isinstance(graph_or_partial, L.Partial):
        return None
    return (nodes(graph_or_partial), edges(graph_or_partial))


for _op in (build_checked, build_plain, build_names):
    @_op.impl("torvex")
    def _(ctx, order):
        parts, names = ctx.inputs(order)[2], ctx.graph.names
        return (lambda: L.build_torvex(names, parts, ctx.budget),
                lambda d: _counts(d, lambda d: d.node_count(), lambda d: d.edge_count()))


@build_checked.impl("rustworkx")
def _(ctx, order):
    parts, names = ctx.inputs(order)[3], ctx.graph.names
    return (lambda: L.build_rustworkx(names, parts, check_cycle=True, budget=ctx.budget),
            lambda g: _counts(g, lambda g: g.num_nodes(), lambda g: g.num_edges()))


@build_names.impl("rustworkx")
def _(ctx, order):
    name_pairs, names = ctx.inputs(order)[0], ctx.graph.names

    def run():
        graph = rx.PyDAG(check_cycle=True)
        index = dict(zip(names, graph.add_nodes_from(names)))
        graph.add_edges_from_no_data([(index[a], index[b]) for a, b in name_pairs])
        return graph
    return run, lambda g: (g.num_nodes(), g.num_edges())


@build_checked.impl("networkx", max_n=10_000)
def _(ctx, order):
    name_pairs, names = ctx.inputs(order)[0], ctx.graph.names
    return (lambda: L.build_networkx_checked(names, name_pairs, ctx.budget),
            lambda g: _counts(g, lambda g: g.number_of_nodes(), lambda g: g.number_of_edges()))


@build_plain.impl("rustworkx")
def _(ctx, order):
    index_pairs, names = ctx.inputs(order)[1], ctx.graph.names
    return (lambda: L.build_rustworkx(names, index_pairs),
            lambda g: (g.num_nodes(), g.num_edges()))


@build_plain.impl("networkx")
def _(ctx, order):
    name_pairs, names = ctx.inputs(order)[0], ctx.graph.names
    return (lambda: L.build_networkx(names, name_pairs),
            lambda g: (g.number_of_nodes(), g.number_of_edges()))


@build_plain.impl("igraph")
def _(ctx, order):
    index_pairs, names = ctx.inputs(order)[1], ctx.graph.names
    return lambda: L.build_igraph(names, index_pairs), lambda g: (g.vcount(), g.ecount())


@build_plain.impl("graphlib")
def _(ctx, order):
    name_pairs, names = ctx.inputs(order)[0], ctx.graph.names
    return lambda: L.build_graphlib(names, name_pairs), None


# --- insertion shapes (torvex alone) ---------------------------------------------------------

ONE_LIST, CHUNKED, EDGE_BY_EDGE = "one list", "chunks of 25k", "add_edge each"
RX_EDGE_BY_EDGE = "rustworkx add_edge each"
insert = op("insert", "checked insertion: one add_edges list, chunks, one add_edge per edge",
            "insertion", shapes=("random", "layered"),
            orders=("random", "sources-first", "sinks-first"),
            columns=(ONE_LIST, CHUNKED, EDGE_BY_EDGE, RX_EDGE_BY_EDGE), extra_sizes=(20_000,),
            note="the same edges into a graph holding all nodes; layered in random order is the "
            "adversarial case for edge-by-edge ordering; rustworkx: PyDiGraph(check_cycle=True)")
names_dict = op("names-dict", "build from name pairs vs mapping the same pairs to ints in Python",
                "insertion", columns=("torvex", "dict mapping"),
                note="dict mapping: {name: i} over the nodes, then one (int, int) tuple per pair")


def _fresh_dag(names):
    dag = torvex.DAG()
    dag.add_nodes(names)
    return dag


@insert.impl(ONE_LIST)
def _(ctx, order):
    pairs, names = ctx.inputs(order)[0], ctx.graph.names
    dag = _fresh_dag(names)
    return lambda: (dag.add_edges(pairs), dag)[1], lambda d: d.edge_count()


@insert.impl(CHUNKED)
def _(ctx, order):
    parts, names = ctx.inputs(order)[2], ctx.graph.names
    dag = _fresh_dag(names)
    return (lambda: L._add_in_chunks(dag, dag.add_edges, parts, ctx.budget),
            lambda d: None if isinstance(d, L.Partial) else d.edge_count())


@insert.impl(EDGE_BY_EDGE)
def _(ctx, order):
    pairs, names = ctx.inputs(order)[0], ctx.graph.names
    dag = _fresh_dag(names)

    def run():
        deadline, add = time.perf_counter() + ctx.budget, dag.add_edge
        for done, (a, b) in enumerate(pairs):
            add(a, b)
            if done % 4096 == 4095 and time.perf_counter() > deadline:
                return L.Partial(done + 1, len(pairs))
        return dag
    return run, lambda d: None if isinstance(d, L.Partial) else d.edge_count()


@insert.impl(RX_EDGE_BY_EDGE, needs="add_edge" if L.available("rustworkx") else "-")
def _(ctx, order):
    pairs, names = ctx.inputs(order)[1], ctx.graph.names
    graph = rx.PyDiGraph(check_cycle=True)
    graph.add_nodes_from(names)

    def run():
        deadline, add = time.perf_counter() + ctx.budget, graph.add_edge
        for done, (a, b) in enumerate(pairs):
            add(a, b, None)
            if done % 4096 == 4095 and time.perf_counter() > deadline:
                return L.Partial(done + 1, len(pairs))
        return graph
    return run, lambda g: None if isinstance(g, L.Partial) else g.num_edges()


# Calls of a few hundred items, and lists with an item now and then whose conversion is Python
# code, each against the cheaper of one list and one add_edge per edge.
SPLIT_COLUMNS = (ONE_LIST, EDGE_BY_EDGE, "chunks of 256", "chunks of 1,000", "chunks of 5,000",
                 "Fraction every 257", "Fraction every 1,000")
insert_split = op("insert-split", "add_edges in short calls, or with Python-running items spaced",
                  "insertion", shapes=("random",), columns=SPLIT_COLUMNS,
                  note="nodes added in the order the edges name them, edges in random order")


# One list of exact (str, str) items against reading the same graph from bytes, which does the
# same core work without Python items: on layered 100k the list cost 1.49x from_bytes at 1cb666a,
# 1.76x one round later (a look-ahead over every item and a name lookup for prefetching), 1.40x
# since.
insert_exact = op("insert-exact", "one exact add_edges list against from_bytes of the same graph",
                  "insertion", shapes=("layered",), columns=("from_bytes", ONE_LIST),
                  note="the list into a graph holding all nodes in random order; a rise of the "
                  "ratio is a slower path for exact items")


@insert_exact.impl("from_bytes")
def _(ctx, order):
    blob = ctx.built("torvex").to_bytes()
    return lambda: torvex.DAG.from_bytes(blob), lambda d: d.edge_count()


@insert_exact.impl(ONE_LIST)
def _(ctx, order):
    pairs = ctx.inputs(order)[0]
    dag = _fresh_dag(ctx.graph.names)
    return lambda: (dag.add_edges(pairs), dag)[1], lambda d: d.edge_count()


def _nodes_in_edge_order(pairs):
    return list(dict.fromkeys(name for pair in pairs for name in pair))


for _column in SPLIT_COLUMNS:
    @insert_split.impl(_column)
    def _(ctx, order, column=_column):
        pairs = ctx.inputs(order)[0]
        dag = torvex.DAG()
        dag.add_nodes(_nodes_in_edge_order(pairs))
        every = int(column.split()[-1].replace(",", "")) if column[0] in "cF" else 0
        if column.startswith("Fraction"):
            third = fractions.Fraction(1, 3)
            items = [(a, b, third) if k % every == every - 1 else (a, b)
                     for k, (a, b) in enumerate(pairs)]
        else:
            items = pairs

        def run():
            if column == EDGE_BY_EDGE:
                add = dag.add_edge
                for a, b in pairs:
                    add(a, b)
            elif column.startswith("chunks"):
                for at in range(0, len(pairs), every):
                    dag.add_edges(pairs[at:at + every])
            else:
                dag.add_edges(items)
            return dag
        return run, lambda d: d.edge_count()


@names_dict.impl("torvex")
def _(ctx, order):
    pairs, names = ctx.inputs(order)[0], ctx.graph.names
    return lambda: L.build_torvex(names, pairs), lambda d: d.edge_count()


@names_dict.impl("dict mapping")
def _(ctx, order):
    pairs, names = ctx.inputs(order)[0], ctx.graph.names

    def run():
        index = {name: i for i, name in enumerate(names)}
        return [(index[a], index[b]) for a, b in pairs]
    return run, len



# --- item types (torvex alone) ----------------------------------------------------------------

class Name(str):
    """A str subclass as users make them: str's own __str__, nothing run in Python."""


EXACT = "exact (str, str)"
ITEM_TYPES = op("item-types", "add_edges by item type: NumPy scalars, str subclasses, one Fraction",
                "insertion", shapes=("layered",), columns=(
                    EXACT, "np.float64 weight", "np.float32 weight", "np.int64 weight",
                    "np.str_ names", "str subclass names", "Fraction first", "Fraction middle",
                    "Fraction last"),
                extra_sizes=(20_000,),
                note="one list into a graph holding all nodes; a Fraction weight is Python code "
                "(its __float__) and goes in alone, the items around it as batches")


def _typed_items(column, pairs):
    if column == EXACT:
        return list(pairs)
    if column.endswith("weight"):
        scalar = getattr(np, column.split()[0][len("np."):])
        return [(a, b, scalar(k % 7)) for k, (a, b) in enumerate(pairs)]
    if column.endswith("names"):
        make = np.str_ if column.startswith("np.") else Name
        typed = {}
        def name(n):
            return typed.setdefault(n, make(n))
        return [(name(a), name(b)) for a, b in pairs]
    at = {"first": 0, "middle": len(pairs) // 2, "last": len(pairs) - 1}[column.split()[1]]
    items = list(pairs)
    items[at] = (*pairs[at], fractions.Fraction(1, 3))
    return items


for _column in ITEM_TYPES.columns:
    @ITEM_TYPES.impl(_column)
    def _(ctx, order, column=_column):
        items = _typed_items(column, ctx.inputs(order)[0])
        dag = _fresh_dag(ctx.graph.names)
        return lambda: (dag.add_edges(items), dag)[1], lambda d: d.edge_count()

# --- orders ---------------------------------------------------------------------------------

topo = op("topo", "topological sort", "orders", shapes=ALL_SHAPES + ("wide",),
          note="torvex's cache emptied before each run")
first_ordering = op("first-ordering", "first of all topological orderings (limit 1)", "orders",
                    shapes=("wide",), note="compared with one topological sort of the same graph")
topo_cached = op("topo-cached", "topological sort, repeated on an unchanged graph", "orders",
                 note="torvex answers from its cache; peers compute again")
objects = op("objects", "reference: one (name, index) tuple per node in Python", "orders",
             note="the cost of the result objects alone, for the 2x target")
levels = op("levels", "topological levels / generations", "orders", shapes=ALL_SHAPES)


@topo.impl("torvex")
def _(ctx, order):
    dag = ctx.built("torvex")
    dag.clear_cache()
    return dag.topological_sort, lambda r: valid_order(ctx, torvex_ids(r))


@first_ordering.impl("torvex")
def _(ctx, order):
    dag = ctx.built("torvex")
    return (lambda: dag.all_topological_orderings(1),
            lambda r: valid_order(ctx, torvex_ids(r[0])))


@topo_cached.impl("torvex")
def _(ctx, order):
    dag = ctx.built("torvex")
    dag.topological_sort()
    return dag.topological_sort, lambda r: valid_order(ctx, torvex_ids(r))


@objects.impl("torvex")
def _(ctx, order):
    names = ctx.graph.names
    return lambda: [(name, i) for i, name in enumerate(names)], None


for _op in (topo, topo_cached):
    @_op.impl("rustworkx")
    def _(ctx, order):
        g = ctx.built("rustworkx")
        return lambda: rx.topological_sort(g), lambda r: valid_order(ctx, list(r))

    @_op.impl("networkx")
    def _(ctx, order):
        g = ctx.built("networkx")
        return lambda: list(nx.topological_sort(g)), lambda r: valid_order(ctx, ids_of(r))

    @_op.impl("igraph")
    def _(ctx, order):
        g = ctx.built("igraph")
        return g.topological_sorting, lambda r: valid_order(ctx, r)

    @_op.impl("graphlib")
    def _(ctx, order):
        sorter = graphlib.TopologicalSorter(ctx.built("graphlib"))
        return lambda: list(sorter.static_order()), lambda r: valid_order(ctx, ids_of(r))


@levels.impl("torvex")
def _(ctx, order):
    dag = ctx.built("torvex")
    dag.clear_cache()
    return dag.topological_levels, level_sizes


@levels.impl("rustworkx")
def _(ctx, order):
    g = ctx.built("rustworkx")
    return lambda: rx.topological_generations(g), level_sizes


@levels.impl("networkx")
def _(ctx, order):
    g = ctx.built("networkx")
    return lambda: list(nx.topological_generations(g)), level_sizes


@levels.impl("graphlib")
def _(ctx, order):
    sorter = graphlib.TopologicalSorter(ctx.built("graphlib"))

    def run():
        sorter.prepare()
        out = []
        while sorter.is_active():
            ready = sorter.get_ready()
            out.append(ready)
            sorter.done(*ready)
        return out
    return run, level_sizes


# --- traversal and paths ------------------------------------------------------------------------

TRAVERSAL_SHAPES = ("random", "layered")
ancestors = op("ancestors", f"ancestors of {QUERY_NODES} nodes", "paths", shapes=TRAVERSAL_SHAPES)
descendants = op("descendants", f"descendants of {QUERY_NODES} nodes", "paths",
                 shapes=TRAVERSAL_SHAPES)
shortest = op("shortest", f"shortest path, {QUERY_NODES} connected pairs", "paths",
              shapes=TRAVERSAL_SHAPES)
longest = op("longest", "longest path, unit node costs (whole graph)", "paths",
             shapes=TRAVERSAL_SHAPES)
longest_cost = op("longest-cost", "longest path by node cost (whole graph)", "paths",
                  shapes=TRAVERSAL_SHAPES, note="rustworkx calls a Python weight function per edge")
longest_pair = op("longest-pair", f"longest path by node cost, {QUERY_NODES} pairs", "paths",
                  shapes=TRAVERSAL_SHAPES, note="no peer has a two-node form")


ONE_EDGE_CALLS = 1_000
one_edge = op("one-edge", f"shortest path + descendants across a graph's only edge, "
              f"{ONE_EDGE_CALLS:,} calls each", "paths", shapes=("wide",), extra_sizes=(1_000,),
              reps=25, note="the cost of a call should not grow with the graph")


def sizes(results):
    return tuple(len(r) for r in results)


@one_edge.impl("torvex")
def _(ctx, order):
    if "one-edge" not in ctx._built:
        dag, names = torvex.DAG(), ctx.graph.names
        dag.add_nodes(names)
        dag.add_edge(names[0], names[1])
        ctx._built["one-edge"] = dag
    dag, a, b = ctx._built["one-edge"], ctx.graph.names[0], ctx.graph.names[1]

    def run():
        paths = [dag.shortest_path(a, b) for _ in range(ONE_EDGE_CALLS)]
        below = [dag.descendants(a) for _ in range(ONE_EDGE_CALLS)]
        return paths[-1], below[-1]
    return run, sizes


@one_edge.impl("rustworkx")
def _(ctx, order):
    if "one-edge-rx" not in ctx._built:
        g = rx.PyDiGraph()
        g.add_nodes_from(ctx.graph.names)
        g.add_edge(0, 1, None)
        ctx._built["one-edge-rx"] = g
    g = ctx._built["one-edge-rx"]

    def run():
        paths = [rx.digraph_dijkstra_shortest_paths(g, 0, target=1)[1]
                 for _ in range(ONE_EDGE_CALLS)]
        below = [rx.descendants(g, 0) for _ in range(ONE_EDGE_CALLS)]
        return paths[-1], below[-1]
    return run, sizes


for _op, method, rx_fn, nx_fn, mode in (
        (ancestors, "ancestors", "ancestors", "ancestors", "in"),
        (descendants, "descendants", "descendants", "descendants", "out")):
    def _bind(_op=_op, method=method, rx_fn=rx_fn, nx_fn=nx_fn, mode=mode):
        @_op.impl("torvex")
        def _(ctx, order):
            call, names = getattr(ctx.built("torvex"), method), ctx.graph.names
            query = [names[i] for i in ctx.spread()]
            return lambda: [call(name) for name in query], sizes

        @_op.impl("rustworkx")
        def _(ctx, order):
            g, fn, query = ctx.built("rustworkx"), getattr(rx, rx_fn), ctx.spread()
            return lambda: [fn(g, i) for i in query], sizes

        @_op.impl("networkx")
        def _(ctx, order):
            g, fn, names = ctx.built("networkx"), getattr(nx, nx_fn), ctx.graph.names
            query = [names[i] for i in ctx.spread()]
            return lambda: [fn(g, name) for name in query], sizes

        @_op.impl("igraph")
        def _(ctx, order):
            g, query = ctx.built("igraph"), ctx.spread()
            # subcomponent includes the node itself
            return (lambda: [g.subcomponent(i, mode=mode) for i in query],
                    lambda r: tuple(len(x) - 1 for x in r))
    _bind()


@shortest.impl("torvex")
def _(ctx, order):
    dag, names = ctx.built("torvex"), ctx.graph.names
    pairs = [(names[a], names[b]) for a, b in ctx.path_pairs()]
    return lambda: [dag.shortest_path(a, b) for a, b in pairs], sizes


@shortest.impl("rustworkx")
def _(ctx, order):
    g, pairs = ctx.built("rustworkx"), ctx.path_pairs()
    fn = rx.digraph_dijkstra_shortest_paths
    return (lambda: [fn(g, a, target=b)[b] for a, b in pairs], sizes)


@shortest.impl("networkx")
def _(ctx, order):
    g, names = ctx.built("networkx"), ctx.graph.names
    pairs = [(names[a], names[b]) for a, b in ctx.path_pairs()]
    return lambda: [nx.shortest_path(g, a, b) for a, b in pairs], sizes


@shortest.impl("igraph")
def _(ctx, order):
    g, pairs = ctx.built("igraph"), ctx.path_pairs()
    return lambda: [g.get_shortest_path(a, b) for a, b in pairs], sizes


def _path_cost(ctx, ids):
    costs = ctx.costs()
    return round(sum(costs[i] for i in ids), 6)


@longest.impl("torvex", needs="critical_path")
def _(ctx, order):
    dag = ctx.built("torvex")
    return dag.critical_path, lambda r: len(r[0])


@longest.impl("rustworkx")
def _(ctx, order):
    g = ctx.built("rustworkx")
    return lambda: rx.dag_longest_path(g), len


@longest.impl("networkx")
def _(ctx, order):
    g = ctx.built("networkx")
    return lambda: nx.dag_longest_path(g), len


@longest_cost.impl("torvex", needs="critical_path")
def _(ctx, order):
    dag, names, costs = ctx.built("torvex"), ctx.graph.names, ctx.costs()
    by_name = dict(zip(names, costs))
    return lambda: dag.critical_path(by_name), lambda r: _path_cost(ctx, torvex_ids(r[0]))


@longest_cost.impl("rustworkx")
def _(ctx, order):
    g, costs = ctx.built("rustworkx"), ctx.costs()
    # Edge weights carry node costs: the target's, plus the source's when the source is a root,
    # where every longest path starts (costs are positive).
    source_cost = [c if g.in_degree(i) == 0 else 0.0 for i, c in enumerate(costs)]
    return (lambda: rx.dag_weighted_longest_path(g, lambda a, b, w: costs[b] + source_cost[a]),
            lambda r: _path_cost(ctx, list(r)))


@longest_pair.impl("torvex")
def _(ctx, order):
    dag, names, costs = ctx.built("torvex"), ctx.graph.names, ctx.costs()
    by_name = dict(zip(names, costs))
    pairs = [(names[a], names[b]) for a, b in ctx.path_pairs()]
    return lambda: [dag.longest_path(a, b, by_name) for a, b in pairs], None


# --- transforms -----------------------------------------------------------------------------

reduction = op("reduction", "transitive reduction", "transforms", exponent=2.0, budget_scale=6.0)
closure = op("closure", f"transitive closure ({SMALL} nodes: the output grows with n^2)",
             "transforms", small_only=True, exponent=2.0)
dominators = op("dominators", "immediate dominators from the first node of the order",
                "transforms", shapes=ALL_SHAPES)


@reduction.impl("torvex")
def _(ctx, order):
    dag = ctx.built("torvex")
    return dag.transitive_reduction, lambda d: d.edge_count()


@reduction.impl("rustworkx")
def _(ctx, order):
    g = ctx.built("rustworkx")
    return lambda: rx.transitive_reduction(g), lambda r: r[0].num_edges()


@reduction.impl("networkx")
def _(ctx, order):
    g = ctx.built("networkx")
    return lambda: nx.transitive_reduction(g), lambda r: r.number_of_edges()


@closure.impl("torvex")
def _(ctx, order):
    dag = ctx.built("torvex")
    return dag.transitive_closure, lambda d: d.edge_count()


@closure.impl("networkx")
def _(ctx, order):
    g = ctx.built("networkx")
    return lambda: nx.transitive_closure_dag(g), lambda r: r.number_of_edges()


def _dominator_pairs(pairs, root):
    return hash(frozenset((a, b) for a, b in pairs if a != root))


@dominators.impl("torvex")
def _(ctx, order):
    dag, root = ctx.built("torvex"), ctx.root()
    name = ctx.graph.names[root]
    return (lambda: dag.dominator_tree(name),
            lambda r: _dominator_pairs(((int(a[1:]), int(b[1:])) for a, b in r), root))


@dominators.impl("rustworkx")
def _(ctx, order):
    g, root = ctx.built("rustworkx"), ctx.root()
    return (lambda: rx.immediate_dominators(g, root),
            lambda r: _dominator_pairs(r.items(), root))


@dominators.impl("networkx")
def _(ctx, order):
    g, root = ctx.built("networkx"), ctx.root()
    name = ctx.graph.names[root]
    return (lambda: nx.immediate_dominators(g, name),
            lambda r: _dominator_pairs(((int(a[1:]), int(b[1:])) for a, b in r.items()), root))


@dominators.impl("igraph")
def _(ctx, order):
    g, root = ctx.built("igraph"), ctx.root()
    return (lambda: g.dominator(root, mode="out"),
            lambda r: _dominator_pairs(((i, d) for i, d in enumerate(r) if d == d and d >= 0),
                                       root))


# --- reachability ---------------------------------------------------------------------------

reach_index = op("reach-index", f"reachability: index build + {REACH_QUERIES:,} queries",
                 "reachability", self_limiting=True,
                 note="the torvex index is a bit matrix: n^2/8 bytes")
reach_search = op("reach-search", f"reachability: {REACH_QUERIES:,} queries by search",
                  "reachability", self_limiting=True)


SAMPLE_SECONDS = 3.0  # queries are alike: a few seconds of them estimate the whole set well


def _loop(ctx, pairs, test):
    """Runs test(a, b) over pairs until the deadline; the count of True answers, or a Partial."""
    deadline, hits = time.perf_counter() + min(ctx.budget, SAMPLE_SECONDS), 0
    for done, (a, b) in enumerate(pairs):
        hits += bool(test(a, b))
        if done % 64 == 0 and time.perf_counter() > deadline:
            return L.Partial(done + 1, len(pairs), bound=False)
    return hits


def _hits(r):
    return None if isinstance(r, L.Partial) else r


@reach_index.impl("torvex", max_n=100_000)
def _(ctx, order):
    dag, names = ctx.built("torvex"), ctx.graph.names
    pairs = [(names[a], names[b]) for a, b in ctx.graph.random_pairs(REACH_QUERIES)]

    def run():
        index = dag.build_reachability_index()
        return _loop(ctx, pairs, index.can_reach)
    return run, _hits


@reach_search.impl("torvex")
def _(ctx, order):
    dag, names = ctx.built("torvex"), ctx.graph.names
    pairs = [(names[a], names[b]) for a, b in ctx.graph.random_pairs(REACH_QUERIES)]
    # is_ancestor counts a node as its own ancestor; the peers' has_path does too
    return lambda: _loop(ctx, pairs, dag.is_ancestor), _hits


for _op in (reach_index, reach_search):
    @_op.impl("rustworkx")
    def _(ctx, order):
        g, pairs = ctx.built("rustworkx"), ctx.graph.random_pairs(REACH_QUERIES)
        return lambda: _loop(ctx, pairs, lambda a, b: rx.has_path(g, a, b)), _hits

    @_op.impl("networkx")
    def _(ctx, order):
        g, names = ctx.built("networkx"), ctx.graph.names
        pairs = [(names[a], names[b]) for a, b in ctx.graph.random_pairs(REACH_QUERIES)]
        return lambda: _loop(ctx, pairs, lambda a, b: nx.has_path(g, a, b)), _hits


# --- file forms -----------------------------------------------------------------------------

json_trip = op("json", "JSON text: write + read", "files",
               note="networkx: node-link data through json; rustworkx: node_link_json")
bytes_trip = op("bytes", "binary in memory: write + read", "files",
                note="peers: pickle.dumps + pickle.loads")
file_trip = op("file", "binary file: save + load", "files", note="peers: pickle.dump + pickle.load")

_TMP = tempfile.gettempdir()


_TMP_FILES = set()


def _tmp_path(lib):
    path = os.path.join(_TMP, f"torvex-bench-{os.getpid()}-{lib}.bin")
    _TMP_FILES.add(path)
    return path


@json_trip.impl("torvex")
def _(ctx, order):
    dag = ctx.built("torvex")
    return lambda: torvex.DAG.from_json(dag.to_json()), lambda d: (d.node_count(), d.edge_count())


@json_trip.impl("rustworkx")
def _(ctx, order):
    g = ctx.built("rustworkx")

    def run():
        text = rx.node_link_json(g, node_attrs=lambda name: {"name": name})
        return rx.parse_node_link_json(text, node_attrs=lambda attrs: attrs["name"])
    return run, lambda g: (g.num_nodes(), g.num_edges())


@json_trip.impl("networkx")
def _(ctx, order):
    g = ctx.built("networkx")

    def run():
        text = json.dumps(nx.node_link_data(g, edges="edges"))
        return nx.node_link_graph(json.loads(text), edges="edges")
    return run, lambda g: (g.number_of_nodes(), g.number_of_edges())


@bytes_trip.impl("torvex")
def _(ctx, order):
    dag = ctx.built("torvex")
    return (lambda: torvex.DAG.from_bytes(dag.to_bytes()),
            lambda d: (d.node_count(), d.edge_count()))


@file_trip.impl("torvex")
def _(ctx, order):
    dag, path = ctx.built("torvex"), _tmp_path("torvex")

    def run():
        dag.save(path)
        return torvex.DAG.load(path)
    return run, lambda d: (os.remove(path), (d.node_count(), d.edge_count()))[1]


_COUNTS = {
    "rustworkx": lambda g: (g.num_nodes(), g.num_edges()),
    "networkx": lambda g: (g.number_of_nodes(), g.number_of_edges()),
    "igraph": lambda g: (g.vcount(), g.ecount()),
}

for _lib in ("rustworkx", "networkx", "igraph"):
    def _bind(lib=_lib):
        @bytes_trip.impl(lib)
        def _(ctx, order):
            g = ctx.built(lib)
            return (lambda: pickle.loads(pickle.dumps(g, pickle.HIGHEST_PROTOCOL)), _COUNTS[lib])

        @file_trip.impl(lib)
        def _(ctx, order):
            g, path = ctx.built(lib), _tmp_path(lib)

            def run():
                with open(path, "wb") as out:
                    pickle.dump(g, out, pickle.HIGHEST_PROTOCOL)
                with open(path, "rb") as source:
                    return pickle.load(source)
            return run, lambda g: (os.remove(path), _COUNTS[lib](g))[1]
    _bind()


from_bytes = op("from-bytes", "binary in memory: read only", "files",
                note="peers: pickle.loads of the same graph")
load_file = op("load", "binary file: load only", "files", note="peers: pickle.load of the same graph")


@from_bytes.impl("torvex")
def _(ctx, order):
    blob = ctx.built("torvex").to_bytes()
    return lambda: torvex.DAG.from_bytes(blob), lambda d: (d.node_count(), d.edge_count())


@load_file.impl("torvex")
def _(ctx, order):
    path = _tmp_path("torvex-load")
    ctx.built("torvex").save(path)
    return lambda: torvex.DAG.load(path), lambda d: (d.node_count(), d.edge_count())


for _lib in ("rustworkx", "igraph"):
    def _bind(lib=_lib):
        @from_bytes.impl(lib)
        def _(ctx, order):
            blob = pickle.dumps(ctx.built(lib), pickle.HIGHEST_PROTOCOL)
            return lambda: pickle.loads(blob), _COUNTS[lib]

        @load_file.impl(lib)
        def _(ctx, order):
            path = _tmp_path(lib + "-load")
            with open(path, "wb") as out:
                pickle.dump(ctx.built(lib), out, pickle.HIGHEST_PROTOCOL)

            def run():
                with open(path, "rb") as source:
                    return pickle.load(source)
            return run, _COUNTS[lib]
    _bind()


# --- text forms against the JSON text (torvex alone) -------------------------------------------

# The JSON text writes the same names and edges with more around them: a writer that looks at
# each name again at every edge end, or a character at a time, shows as a higher ratio.
TEXT_FORMS = ("to_json", "to_dot", "to_mermaid")
text_forms = op("text-forms", "DOT and Mermaid text against the JSON text of the same graph",
                "files", shapes=("random", "layered"), columns=TEXT_FORMS,
                note="to_dot was 0.30x to_json, and 0.62x while every name was scanned a "
                "character at a time at each edge end; keep it below 0.4x")
long_text_forms = op("text-forms-long", "DOT and Mermaid text against the JSON text, names of "
                     "about 60 characters", "files",
                     columns=TEXT_FORMS,
                     note="names fill most of the text: a per-character cost shows here first")


def _long_named(ctx):
    if "long-named" not in ctx._built:
        names = [f"{name}/build-step-{name}/with-a-long-name" for name in ctx.graph.names]
        names = [name + "-" * max(0, 60 - len(name)) for name in names]
        pairs = ctx.graph.index_pairs("sources-first")
        ctx._built["long-named"] = L.build_torvex(names, [(names[a], names[b]) for a, b in pairs])
    return ctx._built["long-named"]


for _form in TEXT_FORMS:
    def _bind(form=_form):
        @text_forms.impl(form)
        def _(ctx, order):
            dag = ctx.built("torvex")
            return getattr(dag, form), lambda text: dag.node_count()

        @long_text_forms.impl(form)
        def _(ctx, order):
            dag = _long_named(ctx)
            return getattr(dag, form), lambda text: dag.node_count()
    _bind()


GROUPS = {
    "construction": "Construction",
    "insertion": "Insertion shapes and name mapping (torvex against itself and plain Python)",
    "orders": "Orders",
    "paths": "Traversal and paths",
    "transforms": "Transforms",
    "reachability": "Reachability",
    "files": "File forms",
}
