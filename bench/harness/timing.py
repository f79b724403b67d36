"""Interleaved timing: each repetition runs every library once (A B A B ...), starting with a
different library each time, so drift of the machine touches all of them alike."""

import gc
import statistics
import time

from . import libraries as L


class Row:
    def __init__(self, op, graph, order):
        self.op, self.order = op, order
        self.shape, self.n, self.m = graph.shape, graph.n, graph.m
        self.graph_label = graph.label
        self.times = {}  # lib -> seconds per run
        self.lower_bound = set()  # libs stopped at the deadline: time extrapolated, a lower bound
        self.estimated = set()  # libs stopped at the deadline: time extrapolated from a sample
        self.notes = {}  # lib -> why there is no time
        self.summaries = {}
        self.mismatch = set()  # libs whose result summary differs from torvex's

    def median(self, lib):
        runs = self.times.get(lib)
        return statistics.median(runs) if runs else None

    def ratio(self, peer):
        """torvex time / peer time (below 1: torvex is faster)."""
        mine, theirs = self.median("torvex"), self.median(peer)
        if mine is None or theirs is None or theirs == 0:
            return None
        return mine / theirs

    def relative(self, column):
        """For an operation with columns: column time / the reference column's time."""
        mine, base = self.median(column), self.median(self.op.reference)
        if mine is None or base is None or base == 0:
            return None
        return mine / base


def _rotate(items, k):
    k %= max(1, len(items))
    return items[k:] + items[:k]


def measure(op, ctx, order, reps, history):
    """Times op on ctx's graph in insertion order `order` for every library that has it."""
    graph, budget = ctx.graph, ctx.budget
    row = Row(op, graph, order)
    active = []
    for lib in op.libs_for(graph.n):
        # a library that was slow on a smaller graph is not run where it would exceed the budget
        earlier = history.get((op.key, graph.shape, order, lib))
        if earlier and not op.self_limiting:
            n0, t0 = earlier
            estimate = t0 * (graph.n / n0) ** op.exponent
            if estimate > budget * op.budget_scale:
                row.notes[lib] = f"skipped: est. {format_seconds(estimate)}"
                continue
        active.append(lib)
    finished, spent = set(), {}
    started = time.perf_counter()
    for rep in range(reps):
        for lib in _rotate(active, rep):
            if lib in finished:
                continue
            seconds, result, summarize, error = _run_once(op, lib, ctx, order)
            if error is not None:
                row.notes[lib] = f"error: {error}"
                finished.add(lib)
                continue
            if isinstance(result, L.Partial):
                seconds *= result.total / result.done
                (row.lower_bound if result.bound else row.estimated).add(lib)
                finished.add(lib)
            row.times.setdefault(lib, []).append(seconds)
            spent[lib] = spent.get(lib, 0.0) + seconds
            if rep == 0 and summarize is not None:
                try:
                    row.summaries[lib] = summarize(result)
                except Exception as exc:  # a result of an unexpected shape: flag it
                    row.summaries[lib] = f"{type(exc).__name__}: {exc}"
            del result
            # repeat while the library's runs of this row stay within the budget
            if spent[lib] > budget:
                finished.add(lib)
    row.elapsed = time.perf_counter() - started
    _compare(row)
    for lib in row.times:
        history[(op.key, graph.shape, order, lib)] = (graph.n, row.median(lib))
    return row


def _run_once(op, lib, ctx, order):
    fn = op.impls[lib][0]
    try:
        run, summarize = fn(ctx, order)
    except Exception as exc:  # a peer's missing feature or a setup failure: report, go on
        return 0.0, None, None, f"{type(exc).__name__}: {exc}"
    # The collector stays off while timing; a young-generation pass clears earlier results
    # without walking the large graphs that every library keeps alive.
    gc.collect(1)
    gc.disable()
    try:
        start = time.perf_counter()
        result = run()
        seconds = time.perf_counter() - start
    except Exception as exc:
        return 0.0, None, None, f"{type(exc).__name__}: {exc}"
    finally:
        gc.enable()
    return seconds, result, summarize, None


def _compare(row):
    reference = row.summaries.get(row.op.reference)
    if reference is None:
        return
    for lib, value in row.summaries.items():
        if value is not None and value != reference:
            row.mismatch.add(lib)


def format_seconds(seconds):
    if seconds is None:
        return "—"
    if seconds >= 60:
        return f"{seconds / 60:.1f} min"
    if seconds >= 1:
        return f"{seconds:.2f} s"
    if seconds >= 1e-3:
        return f"{seconds * 1e3:.3g} ms"
    return f"{seconds * 1e6:.3g} µs"
