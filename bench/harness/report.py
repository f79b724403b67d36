"""RESULTS.md: machine, versions, the tables of medians and ratios, memory, and the targets."""

import datetime
import os
import platform
import subprocess

from . import libraries as L
from .graphs import size_label
from .operations import GROUPS
from .timing import format_seconds

TARGET_N = 100_000


def ratio_text(ratio, bound=""):
    if ratio is None:
        return ""
    digits = 3 if ratio < 0.01 else 2
    return f"{bound}{ratio:.{digits}f}"


def cell(row, lib):
    if lib in row.notes:
        return row.notes[lib].replace("|", "/")
    seconds = row.median(lib)
    if seconds is None:
        return "—"
    mark = "≥ " if lib in row.lower_bound else "~" if lib in row.estimated else ""
    text = mark + format_seconds(seconds)
    if lib != "torvex":
        # a time cut at the deadline is a lower bound, which bounds the ratio the other way
        bound = {(True, False): "≥", (False, True): "≤", (False, False): ""}.get(
            ("torvex" in row.lower_bound, lib in row.lower_bound))
        ratio = row.ratio(lib)
        if ratio is not None and bound is not None:
            text += f" ({ratio_text(ratio, bound)})"
    if lib in row.mismatch:
        text += " ≠"
    return text


def column_cell(row, column):
    """A cell of an operation with columns: time, and its ratio to the reference column."""
    if column in row.notes:
        return row.notes[column].replace("|", "/")
    seconds = row.median(column)
    if seconds is None:
        return "—"
    text = ("≥ " if column in row.lower_bound else "") + format_seconds(seconds)
    ratio = row.relative(column)
    if column != row.op.reference and ratio is not None:
        text += f" ({ratio_text(ratio, '≥' if column in row.lower_bound else '')})"
    if column in row.mismatch:
        text += " ≠"
    return text


def row_line(row):
    if row.op.columns:
        parts = [f"{c}: {column_cell(row, c)}" for c in row.op.columns
                 if c in row.times or c in row.notes]
        return (f"{row.op.title} | {row.graph_label} | {row.order} | " + " | ".join(parts)
                + f"  [{format_seconds(row.elapsed)}]")
    libs = ["torvex"] + [lib for lib in L.PEERS if lib in row.times or lib in row.notes]
    parts = [f"{lib} {cell(row, lib)}" for lib in libs]
    return (f"{row.op.title} | {row.graph_label} | {row.order} | " + " | ".join(parts)
            + f"  [{format_seconds(row.elapsed)}]")


def machine():
    cpu = platform.processor() or "unknown CPU"
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    memory = ""
    try:
        with open("/proc/meminfo") as info:
            kib = int(info.readline().split()[1])
            memory = f", {kib / 2**20:.0f} GiB memory"
    except (OSError, ValueError, IndexError):
        pass
    return (f"{cpu}, {os.cpu_count()} logical cores{memory}; {platform.system()} "
            f"{platform.release()}; Python {platform.python_version()}")


def torvex_version(repo):
    try:
        commit = subprocess.run(["git", "-C", repo, "rev-parse", "--short", "HEAD"],
                                capture_output=True, text=True, check=True).stdout.strip()
        changed = subprocess.run(["git", "-C", repo, "status", "--porcelain"],
                                 capture_output=True, text=True, check=True).stdout.strip()
        return f"{L.version('torvex')} (commit {commit}{', with local changes' if changed else ''})"
    except (OSError, subprocess.CalledProcessError):
        return L.version("torvex")


def _column_tables(rows):
    """One table per operation with columns; ratios are to its first column."""
    lines = []
    for op in dict.fromkeys(r.op for r in rows):
        mine = [r for r in rows if r.op is op]
        lines += [f"{op.title} (in parentheses: time / {op.reference}):", "",
                  "| graph | order | " + " | ".join(op.columns) + " |",
                  "|---|---|" + "---|" * len(op.columns)]
        for row in mine:
            cells = [row.graph_label, row.order] + [column_cell(row, c) for c in op.columns]
            lines.append("| " + " | ".join(cells) + " |")
        lines += ["", f"- {op.note}.", ""] if op.note else [""]
    return lines[:-1]


def _group_table(rows):
    if all(r.op.columns for r in rows):
        return _column_tables(rows)
    libs = ["torvex"] + [lib for lib in L.PEERS
                         if any(lib in r.times or lib in r.notes for r in rows)]
    lines = ["| operation | graph | order | " + " | ".join(libs) + " |",
             "|---|---|---|" + "---|" * len(libs)]
    for row in rows:
        # only construction varies the insertion order; queries run on one graph per shape
        order = row.order if row.op.group == "construction" else ""
        cells = [row.op.title, row.graph_label, order] + [cell(row, lib) for lib in libs]
        lines.append("| " + " | ".join(cells) + " |")
    notes = {row.op.title: row.op.note for row in rows if row.op.note}
    lines += [""] + [f"- {title}: {note}." for title, note in notes.items()]
    return lines


def _memory_table(memory):
    lines = ["| graph | nodes + edges | library | peak RSS increase | bytes per node+edge "
             "| torvex / library | retained after the build |", "|---|---|---|---|---|---|---|"]
    for (shape, n), reports in memory.items():
        mine = reports.get("torvex")
        for lib, report in reports.items():
            if isinstance(report, str):
                lines.append(f"| {shape} {size_label(n)} | | {lib} | failed: {report} | | | |")
                continue
            items = report["n"] + report["m"]
            per = report["peak"] / items
            ratio = ""
            if mine and not isinstance(mine, str) and lib != "torvex" and report["peak"] > 0:
                ratio = ratio_text(mine["peak"] / report["peak"])
            lines.append(f"| {shape} {size_label(n)} | {items:,} | {lib} | "
                         f"{report['peak'] / 2**20:.1f} MiB | {per:.0f} | {ratio} | "
                         f"{report['retained'] / 2**20:.1f} MiB |")
    return lines


class Targets:
    """The issue's targets, checked against this run's rows."""

    def __init__(self, rows, memory):
        self.rows, self.memory, self.lines = rows, memory, []
        sizes = sorted({r.n for r in rows if not r.op.small_only})
        self.n = TARGET_N if TARGET_N in sizes else (sizes[-1] if sizes else None)
        self.largest = sizes[-1] if sizes else None
        # where a library was skipped at the target size, the next smaller size stands in
        self.fallbacks = [n for n in reversed(sizes) if self.n is not None and n < self.n]

    def find(self, key, shape="random", order="random", n=None):
        n = n or self.n
        for row in self.rows:
            if (row.op.key, row.shape, row.order, row.n) == (key, shape, order, n):
                return row
        return None

    def check(self, text, value, limit):
        if value is None:
            self.lines.append(f"- not measured: {text}")
            return
        verdict = "holds" if value <= limit else "**does not hold**"
        self.lines.append(f"- {verdict}: {text}: {ratio_text(value)} (target ≤ {limit})")

    def versus(self, key, peer, limit, text, peer_key=None, shape="random", order="random"):
        for n in [self.n] + self.fallbacks:
            mine = self.find(key, shape, order, n)
            theirs = self.find(peer_key or key, shape, order, n)
            if mine and theirs and mine.median("torvex") and theirs.median(peer):
                if n != self.n:
                    text = text.replace(size_label(self.n), size_label(n))
                self.check(text, mine.median("torvex") / theirs.median(peer), limit)
                return
        self.check(text, None, limit)

    def evaluate(self):
        if self.n is None:
            return ["- nothing measured"]
        size = size_label(self.n)
        self.versus("build-checked", "rustworkx", 0.05,
                    f"build refusing cycles, random {size}, random order, torvex / rustworkx "
                    f"PyDAG(check_cycle=True)")
        self.versus("build-checked", "rustworkx", 2.0,
                    f"build refusing cycles / rustworkx PyDiGraph build without checks, random "
                    f"{size} (stand-in for torvex without its check; see note)",
                    peer_key="build-plain")
        for shape in ("random", "layered", "chain"):
            for order in ("sources-first", "sinks-first"):
                value, at = None, size
                for n in [self.n] + self.fallbacks:
                    base = self.find("build-checked", shape, n=n)
                    row = self.find("build-checked", shape, order, n=n)
                    if base and row and base.median("torvex") and row.median("torvex"):
                        value, at = row.median("torvex") / base.median("torvex"), size_label(n)
                        break
                self.check(f"torvex build, {shape} {at}, {order} / random order", value, 1.0)
        for key, title in (("topo", "topological sort"), ("levels", "levels"),
                           ("ancestors", "ancestors"), ("descendants", "descendants"),
                           ("shortest", "shortest path")):
            row = self.find(key)
            value = None
            if row and row.median("torvex"):
                peers = [row.median(p) for p in L.PEERS if row.median(p) and p not in row.mismatch]
                if peers:
                    value = row.median("torvex") / min(peers)
            self.check(f"{title}, random {size}, torvex / fastest peer", value, 1.0)
        topo, objects = (self.find("topo", n=self.largest), self.find("objects", n=self.largest))
        value = None
        if topo and objects and topo.median("torvex") and objects.median("torvex"):
            value = topo.median("torvex") / objects.median("torvex")
        self.check(f"topological sort of {size_label(self.largest or 0)} nodes / creating one "
                   f"(name, index) tuple per node", value, 2.0)
        self.versus("reduction", "networkx", 0.05, f"transitive reduction, random {size} / networkx")
        self.versus("reduction", "rustworkx", 0.5,
                    f"transitive reduction, random {size} / rustworkx")
        if self.largest and self.largest > self.n:
            row = self.find("reduction", n=self.largest)
            value = row.ratio("rustworkx") if row and "rustworkx" not in row.lower_bound else None
            self.check(f"transitive reduction, random {size_label(self.largest)} / rustworkx",
                       value, 0.5)
        self.scaling()
        self.versus("file", "rustworkx", 0.5,
                    f"binary save + load, random {size} / pickle dump + load of rustworkx")
        self.versus("bytes", "rustworkx", 0.5,
                    f"binary to_bytes + from_bytes, random {size} / pickle dumps + loads of "
                    f"rustworkx")
        reports = self.memory.get(("random", self.n), {})
        mine, theirs = reports.get("torvex"), reports.get("rustworkx")
        value = None
        if isinstance(mine, dict) and isinstance(theirs, dict) and theirs["peak"] > 0:
            value = mine["peak"] / theirs["peak"]
        self.check(f"peak RSS per node+edge, random {size}, torvex / rustworkx", value, 1.0)
        self.evaluate_scale()
        return self.lines

    def scaling(self):
        """Costs that must not grow with the graph beyond its own size."""
        largest = size_label(self.largest)
        first = self.find("first-ordering", "wide", n=self.largest)
        topo = self.find("topo", "wide", n=self.largest)
        value = None
        if first and topo and first.median("torvex") and topo.median("torvex"):
            value = first.median("torvex") / topo.median("torvex")
        self.check(f"all_topological_orderings(limit=1) / topological sort, wide {largest} (no "
                   f"edges)", value, 5.0)
        report = self.memory.get(("wide", self.largest), {}).get("torvex")
        value = None
        if isinstance(report, dict) and report.get("ordering_peak") and report["peak"] > 0:
            value = report["ordering_peak"] / report["peak"]
        self.check(f"peak memory of all_topological_orderings(limit=1) / the graph's own, wide "
                   f"{largest}", value, 2.0)
        big, small = self.find("one-edge", "wide", n=self.largest), self.find("one-edge", "wide",
                                                                             n=1_000)
        value = None
        if big and small and big.median("torvex") and small.median("torvex"):
            value = big.median("torvex") / small.median("torvex")
        self.check(f"shortest path + descendants across one edge, {largest} nodes / 1k nodes",
                   value, 2.0)

    def evaluate_scale(self):
        """The targets for large graphs: every size from 100k on that this run measured."""
        sizes = sorted({r.n for r in self.rows if r.n >= 100_000 and not r.op.small_only})
        for n in sizes:
            at = size_label(n)
            for row in self.rows:
                if row.op.key == "insert" and row.n == n:
                    for column in row.op.columns[1:]:
                        ratio = row.relative(column)
                        text = f"{column} / one list, {row.graph_label}, {row.order} order"
                        if column == row.op.columns[1]:
                            self.check(text, ratio, 2.0)
                        elif ratio is not None:
                            self.lines.append(f"- measured: {text}: {ratio_text(ratio)}")
            for key, title in (("from-bytes", "from_bytes"), ("load", "load")):
                row = self.find(key, n=n)
                value = row.ratio("rustworkx") if row else None
                self.check(f"{title}, random {at} / unpickling the same rustworkx graph", value,
                           0.7)
            row = self.find("names-dict", n=n)
            value = None
            if row and row.median("torvex") and row.median("dict mapping"):
                value = row.median("torvex") / row.median("dict mapping")
            self.check(f"checked build from names, random {at} / mapping the same name pairs to "
                       f"ints through a dict in Python", value, 0.5)
            topo, objects = self.find("topo", n=n), self.find("objects", n=n)
            value = None
            if topo and topo.median("torvex"):
                peers = [topo.median(p) for p in L.PEERS
                         if topo.median(p) and p not in topo.mismatch]
                value = topo.median("torvex") / min(peers) if peers else None
            self.check(f"cold topological sort, random {at}, torvex / fastest peer", value, 0.75)
            value = None
            if topo and objects and topo.median("torvex") and objects.median("torvex"):
                value = topo.median("torvex") / objects.median("torvex")
            self.check(f"cold topological sort, random {at} / one (name, index) tuple per node",
                       value, 2.0)
            reports = self.memory.get(("random", n), {})
            mine, theirs = reports.get("torvex"), reports.get("igraph")
            value = None
            if isinstance(mine, dict) and isinstance(theirs, dict) and theirs["peak"] > 0:
                value = mine["peak"] / theirs["peak"]
            self.check(f"peak RSS per node+edge, random {at}, torvex / igraph", value, 0.9)


def write(path, rows, memory, settings, repo):
    now = datetime.datetime.now().astimezone()
    lines = [
        "# torvex against peer libraries",
        "",
        f"Written by `make bench` (bench/run.sh) on {now:%Y-%m-%d %H:%M %Z}.",
        "",
        f"- machine: {machine()}",
        f"- torvex {torvex_version(repo)}; "
        + "; ".join(f"{lib} {L.version(lib)}" for lib in L.PEERS if L.available(lib)),
        f"- settings: {settings}",
        "",
        "Each cell is the median of the runs; the libraries take turns in every repetition "
        "(A B A B ...), with the cyclic garbage collector off during each timed run. In "
        "parentheses: torvex time / peer time, so below 1 torvex is faster. `≥` marks a peer "
        "stopped at the time budget, its time extrapolated (a lower bound), `~` a time estimated from "
        "the queries answered within a few seconds; `≠` a result that "
        "differs from torvex's (the rows compare counts, lengths and validity of the results). "
        "Graphs: `random` has 5 edges per node on average between uniformly drawn pairs, "
        "`layered` stages of 100 nodes each feeding 5 nodes of the next, `chain` one path; "
        "node names are `n<number>` in an order unrelated to the topological one. Orders of "
        "edge insertion: `random`, `sources-first` (by topological position of the source), "
        "`sinks-first` (by position of the target, last first). Peers get integer index pairs "
        "where that is their fastest input and return their own result types (rustworkx "
        "returns native index lists), torvex takes and returns names.",
        "",
        "## Targets",
        "",
    ]
    lines += Targets(rows, memory).evaluate()
    lines += ["", "Note: torvex has no build without its cycle check, so rustworkx's build without "
              "checks stands in as the lower bound of checked insertion."]
    for group, title in GROUPS.items():
        group_rows = [r for r in rows if r.op.group == group]
        if group_rows:
            lines += ["", f"## {title}", ""] + _group_table(group_rows)
    if memory:
        lines += ["", "## Memory", "",
                  "Peak RSS increase while building the graph from the random-order input, in a "
                  "fresh process per library; the input lists exist before the build and are not "
                  "counted. Retained: the resident size just after the build, over the same "
                  "baseline (transient buffers gone).", ""]
        lines += _memory_table(memory)
    with open(path, "w") as out:
        out.write("\n".join(lines) + "\n")
