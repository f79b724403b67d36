"""The benchmark graphs: the same nodes and edges, in the same insertion order, for every library.

A graph is drawn over topological positions 0..n-1 (every edge runs from a lower position to a
higher one, so it is acyclic whatever the insertion order), then the positions are shuffled onto
node ids, so neither the node ids nor the names ("n<id>") follow the topological order.
"""

import numpy as np

SHAPES = ("random", "layered", "chain", "wide")
ORDERS = ("random", "sources-first", "sinks-first")
MEAN_OUT_DEGREE = 5
LAYER_WIDTH = 100
SEED = 20240601


def _random_edges(n, rng):
    """Distinct pairs of positions drawn uniformly, MEAN_OUT_DEGREE * n of them."""
    m = min(MEAN_OUT_DEGREE * n, n * (n - 1) // 2)
    keys = np.empty(0, dtype=np.int64)
    while keys.size < m:
        draw = int((m - keys.size) * 1.2) + 16
        a = rng.integers(0, n, size=draw, dtype=np.int64)
        b = rng.integers(0, n, size=draw, dtype=np.int64)
        keep = a != b
        lo, hi = np.minimum(a[keep], b[keep]), np.maximum(a[keep], b[keep])
        keys = np.unique(np.concatenate([keys, lo * n + hi]))
    keys = rng.permutation(keys)[:m]
    return keys // n, keys % n


def _layered_edges(n, rng):
    """Stages of LAYER_WIDTH nodes; each node feeds MEAN_OUT_DEGREE nodes of the next stage
    (drawn with replacement, duplicates dropped)."""
    width = min(LAYER_WIDTH, max(1, n // 2))
    first = np.repeat(np.arange(n, dtype=np.int64), MEAN_OUT_DEGREE)
    next_start = (first // width + 1) * width
    keep = next_start < n
    first, next_start = first[keep], next_start[keep]
    next_size = np.minimum(next_start + width, n) - next_start
    second = next_start + (rng.random(first.size) * next_size).astype(np.int64)
    keys = np.unique(first * n + second)
    return keys // n, keys % n


def _chain_edges(n, rng):
    first = np.arange(n - 1, dtype=np.int64)
    return first, first + 1


def _no_edges(n, rng):
    """Nodes alone: every order is topological, so the orderings are as many as can be."""
    return np.empty(0, dtype=np.int64), np.empty(0, dtype=np.int64)


_DRAW = {"random": _random_edges, "layered": _layered_edges, "chain": _chain_edges,
         "wide": _no_edges}


class Graph:
    """One benchmark graph: n nodes named "n<id>", edges as arrays of node ids."""

    def __init__(self, shape, n, seed=SEED):
        rng = np.random.default_rng([seed, n, SHAPES.index(shape)])
        self.shape, self.n = shape, n
        first, second = _DRAW[shape](n, rng)
        self.node_at = rng.permutation(n)  # topological position -> node id
        self.position = np.empty(n, dtype=np.int64)  # node id -> topological position
        self.position[self.node_at] = np.arange(n)
        # canonical (random) insertion order
        shuffle = rng.permutation(first.size)
        self.src = self.node_at[first[shuffle]]
        self.dst = self.node_at[second[shuffle]]
        self.m = int(self.src.size)
        self.names = [f"n{i}" for i in range(n)]
        self._rng = rng

    @property
    def label(self):
        return f"{self.shape} {size_label(self.n)}"

    def edges(self, order="random"):
        """(src, dst) id arrays in the given insertion order."""
        if order == "random":
            return self.src, self.dst
        ps, pd = self.position[self.src], self.position[self.dst]
        if order == "sources-first":  # every edge's source is as early in the order as can be
            key = np.lexsort((pd, ps))
        elif order == "sinks-first":  # build upwards from the sinks
            key = np.lexsort((-ps, -pd))
        else:
            raise ValueError(order)
        return self.src[key], self.dst[key]

    def index_pairs(self, order="random"):
        src, dst = self.edges(order)
        return list(zip(src.tolist(), dst.tolist()))

    def name_pairs(self, order="random"):
        names = self.names
        src, dst = self.edges(order)
        return [(names[a], names[b]) for a, b in zip(src.tolist(), dst.tolist())]

    def spread_nodes(self, k):
        """k node ids spread evenly over the topological order, ends excluded."""
        positions = np.linspace(0, self.n - 1, k + 2)[1:-1].astype(np.int64)
        return self.node_at[positions].tolist()

    def random_pairs(self, k, seed=1):
        """k pairs of distinct nodes drawn uniformly."""
        rng = np.random.default_rng([SEED, seed, self.n])
        a = rng.integers(0, self.n, k)
        b = (a + rng.integers(1, self.n, k)) % self.n
        return list(zip(a.tolist(), b.tolist()))


def size_label(n):
    if n >= 1_000_000 and n % 1_000_000 == 0:
        return f"{n // 1_000_000}M"
    if n >= 1000 and n % 1000 == 0:
        return f"{n // 1000}k"
    return str(n)


def parse_size(text):
    text = text.strip().lower()
    scale = {"k": 1000, "m": 1_000_000}.get(text[-1:], 1)
    return int(float(text.rstrip("km")) * scale)

