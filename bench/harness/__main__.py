"""Run the benchmark: python -m harness [options] from bench/ (bench/run.sh does that).

Sizes come from --sizes or BENCH_SIZES (default "10k,100k"; add 1m for the full run).
"""

import argparse
import os
import sys
import time

from . import libraries as L
from . import memory, operations, report
from .graphs import SHAPES, Graph, parse_size, size_label
from .timing import format_seconds, measure

BENCH_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def default_reps(n):
    return 5 if n <= 10_000 else 3 if n <= 100_000 else 2


def parse(argv):
    parser = argparse.ArgumentParser(prog="bench/run.sh", description=__doc__)
    parser.add_argument("--sizes", default=os.environ.get("BENCH_SIZES", "10k,100k"),
                        help="comma-separated node counts, e.g. 10k,100k,1m")
    parser.add_argument("--reps", type=int, default=None,
                        help="runs per library and operation (default 5 at 10k, 3 at 100k, 2 above)")
    parser.add_argument("--budget", type=float, default=float(os.environ.get("BENCH_BUDGET", 10)),
                        help="seconds one run may take before a library stops repeating it")
    parser.add_argument("--only", default="",
                        help="comma-separated operation keys or groups: " +
                        ", ".join(sorted({o.key for o in operations.OPS} |
                                         set(operations.GROUPS))))
    parser.add_argument("--no-memory", action="store_true", help="skip the memory processes")
    parser.add_argument("--output", default=os.path.join(BENCH_DIR, "RESULTS.md"))
    return parser.parse_args(argv)


def selected_ops(only):
    wanted = {w.strip() for w in only.split(",") if w.strip()}
    return [o for o in operations.OPS if not wanted or o.key in wanted or o.group in wanted]


def plan(ops, sizes):
    """(n, shape) pairs to draw, each with the operations that run on it."""
    steps = []
    small = [o for o in ops if o.small_only]
    if small:
        steps.append((operations.SMALL, "random", small))
    for n in sorted({n for o in ops for n in o.extra_sizes} - set(sizes)):
        for shape in SHAPES:
            here = [o for o in ops if n in o.extra_sizes and shape in o.shapes]
            if here:
                steps.append((n, shape, here))
    for n in sizes:
        for shape in SHAPES:
            here = [o for o in ops if not o.small_only and shape in o.shapes]
            if here:
                steps.append((n, shape, here))
    return steps


def main(argv=None):
    args = parse(argv)
    sizes = [parse_size(s) for s in args.sizes.split(",") if s.strip()]
    ops = selected_ops(args.only)
    missing = [lib for lib in L.PEERS if not L.available(lib)]
    if missing:
        print(f"bench: not installed, left out: {', '.join(missing)}")
    started, history, rows = time.perf_counter(), {}, []
    for n, shape, here in plan(ops, sizes):
        drawn = time.perf_counter()
        graph = Graph(shape, n)
        print(f"\n== {graph.label}: {graph.n:,} nodes, {graph.m:,} edges "
              f"(drawn in {format_seconds(time.perf_counter() - drawn)})", flush=True)
        ctx = operations.Context(graph, args.budget)
        reps = args.reps or default_reps(n)
        for op in here:
            for order in op.orders:
                row = measure(op, ctx, order, op.reps or reps, history)
                if row.times or row.notes:
                    rows.append(row)
                    print(report.row_line(row), flush=True)
        ctx.release()
    mem = {}
    if not args.no_memory and any(o.group in ("construction", "insertion") for o in ops):
        print("\n== memory (one process per library)", flush=True)
        for n in sizes:
            reports = mem.setdefault(("random", n), {})
            for lib in ("torvex",) + L.PEERS:
                if not L.available(lib):
                    continue
                result, error = memory.measure(lib, "random", n, BENCH_DIR)
                reports[lib] = result if result else error
                if result:
                    per = result["peak"] / (result["n"] + result["m"])
                    print(f"random {size_label(n)} {lib}: {result['peak'] / 2**20:.1f} MiB peak "
                          f"increase, {per:.0f} bytes per node+edge", flush=True)
                else:
                    print(f"random {size_label(n)} {lib}: failed: {error}", flush=True)
    if not args.no_memory and any(o.key == "first-ordering" for o in ops):
        print("\n== memory of the first ordering (one process per size)", flush=True)
        for n in sizes:
            result, error = memory.measure("torvex", "wide", n, BENCH_DIR)
            mem[("wide", n)] = {"torvex": result if result else error}
            if result:
                print(f"wide {size_label(n)}: graph {result['peak'] / 2**20:.1f} MiB, first "
                      f"ordering {result['ordering_peak'] / 2**20:.1f} MiB peak increase",
                      flush=True)
            else:
                print(f"wide {size_label(n)}: failed: {error}", flush=True)
    settings = (f"sizes {', '.join(size_label(n) for n in sizes)}; "
                f"repetitions {args.reps or '5 / 3 / 2 by size'}; budget {args.budget:g} s per run")
    report.write(args.output, rows, mem, settings, os.path.dirname(BENCH_DIR))
    print(f"\nbench: {len(rows)} rows in {format_seconds(time.perf_counter() - started)}; "
          f"wrote {os.path.relpath(args.output)}")
    with open(args.output) as written:
        text = written.read()
    targets = text.split("## Targets", 1)[1].split("\n## ", 1)[0]
    print("targets:" + targets.rstrip())
    return 0


if __name__ == "__main__":
    sys.exit(main())
