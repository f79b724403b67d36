"""Time nodes_matching_regex against the dependency's Python binding (`paula`) on the same names:
compile plus one search per name, for the patterns whose cost grows with counts or class sizes.

    python bench/regex_bench.py [names=1000000]

A pattern we refuse for size prints "refused" with the time the refusal took; the ratio column
is torvex / paula (below 1: torvex is faster). Without paula the torvex timings print alone.
"""

import random
import signal
import sys
import time

import torvex
from harness.clock import timed

try:
    import paula
except ImportError:
    paula = None


def task_names(n):
    """Mostly ASCII task-like names, with some accented, Greek and CJK ones."""
    stems = ["task_", "build-", "Build_step_", "test-run-", "deploy", "café_", "Ωμέγα-", "日本_",
             "rebuild", "task_x"]
    rng = random.Random(7)
    return [rng.choice(stems) + str(i) for i in range(n)]


def long_task_names(n):
    """Task names repeated past 200 bytes: the stems without a hyphen make runs of 200 word
    characters and more, the others do not."""
    return [(name + "_") * (1 + 200 // (len(name) + 1)) for name in task_names(n)]


def words(count):
    """`count` distinct lower-case words of 4 to 12 letters, in no order."""
    rng, out = random.Random(11), set()
    while len(out) < count:
        out.add("".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(4, 12))))
    return list(out)


def glob_names(n, other):
    """Digits, then 40 characters of `a` and `other`: no `a` has 40 characters after it."""
    return [f"{i:07d}" + format(i * 0x9E3779B97F4A7C15 % 2**64 >> 24, "040b")
            .replace("0", "a").replace("1", other) for i in range(n)]


def separate_characters(count, step):
    """`count` code points `step` apart from U+0100, surrogates left out."""
    out, c = [], 0x100
    while len(out) < count:
        if not 0xD7F0 <= c <= 0xDFFF:
            out.append(c)
        c += step
    return out


def cases(n):
    names = task_names(n)
    listed = words(20_000)
    many = "[" + "".join(map(chr, separate_characters(40_000, 2))) + "]"
    ranges = "[" + "".join(chr(c) + "-" + chr(c + 1) for c in separate_characters(20_000, 3)) + "]"
    return [
        ("a{1001}b", ["b" + "a" * 1_000_000], "a{1001}b, one name: b, 10^6 a"),
        ("a{1001}[bc]", ["a" * 1_000_000], "a{1001}[bc], one name of 10^6 a"),
        ("a{1001}b", ["a" * 1_000_000 + "b"], "a{1001}b, 10^6 a then b"),
        (r"\w{200}", long_task_names(n // 10), r"\w{200}, n/10 names of 200+ bytes"),
        ("|".join(listed), names, "alternation of 20,000 words"),
        ("^(?:" + "|".join(listed) + ")$", names, "the same, anchored"),
        ("^.*a" + "." * 40 + ".*$", glob_names(n // 10, "c"), "glob *a?{40}*, n/10 ASCII"),
        ("^.*a" + "." * 40 + ".*$", glob_names(n // 10, "日"), "glob *a?{40}*, n/10 CJK"),
        ("[a-z]{1,1001}$", names, None),
        (many, names, "class of 40,000 characters"),
        (ranges, names, "class of 20,000 ranges"),
        (r"^task_\d+$", names, None),
        (r"\w+-\d", names, None),
        (r"(?i)build", names, None),
        (r"\p{Greek}+-\d", names, None),
        (r"\bμέ\w+-\d\b", names, None),
    ]


# ---- compile-heavy patterns: large counts near the size limit (compile time dominates) ----


def compile_cases(n):
    names = task_names(n)
    runs = ["b" + "a" * k + "c" for k in range(0, 20_000, 200)]
    return [
        ("a{0,40000}", names, None),
        ("x{0,20000}y", names, None),
        ("[a-z]{0,40000}", names, None),
        ("a{5,40000}b", names, None),
        ("(?:a|b){0,40000}", names, None),
        ("_a{0,40000}[0-9]", names, None),
        ("_[a-z]{0,90000}[0-9]", names, None),
        (r"_\w{0,200}[0-9]", names, None),
        # Long runs inside a large count: the matcher walks thousands of copies per name.
        ("ba{0,40000}c", runs, "ba{0,40000}c, runs of a up to 20k"),
        ("a{0,160000}", names, "a{0,160000} (refused)"),
        ("(?:a?){200000}", names, "(?:a?){200000} (refused)"),
        ("(?:a{0,400}){400}", names, "(?:a{0,400}){400} (refused)"),
    ]


# ---- counts before an end, long runs, and a busy processor ----


def end_cases(n):
    rng = random.Random(13)
    short = list(dict.fromkeys("".join(rng.choice("abcdefghijkUVWXYZ0123456789") for _ in range(12))
                               for _ in range(1000)))
    return [
        (r"ax{0,10000}\z", ["a" + "x" * 10000], r"ax{0,10000}\z, a + 10^4 x"),
        (r"ax{1000,60000}\z", ["x" * 50000], r"ax{1000,60000}\z, 5*10^4 x"),
        (r"ax{1000,60000}\z", ["a" + "x" * 50000], r"ax{1000,60000}\z, a + 5*10^4 x"),
        (r"/é{1000,5000}$", ["/" + "é" * rng.randint(950, 1050) for _ in range(100)],
         r"/é{1000,5000}$, 100 runs of ~1000"),
        (r"_x{1000,10000}\z", ["_" + "x" * rng.randint(900, 1099) for _ in range(400)],
         r"_x{1000,10000}\z, 400 runs of ~1000"),
        (r"[ab](?:(?:ab){0,1500}y){0,10}z", ["a" + ("ab" * 1400 + "y") * 9 + "z"],
         "[ab]((ab){0,1500}y){0,10}z, 25 kB"),
        # The engine is chosen by processor time: the same on a busy machine (run it beside
        # two busy loops on the same CPU: at most 3x the wall time alone).
        ("U?{99999}?3", short, "U?{99999}?3, 1000 names of 12"),
    ]


# ---- end of the compile-heavy block ----


# ---- Ctrl-C inside long searches ----


def interrupt_cases():
    rng = random.Random(17)
    return [
        (r"ax{0,10000}\z", ["b" * i + "a" + "x" * rng.randint(9000, 10000) for i in range(1000)]),
        ("[ab](?:(?:ab){0,1500}y){0,10}z", ["a" + ("ab" * 1400 + "y") * 9 + "z" * i
                                            for i in range(1, 600)]),
        ("U?{99999}?3", ["".join(rng.choice("abcUVW0123") for _ in range(12)) for _ in range(300_000)]),
        ("^.*a.{40}.*$", ["".join(rng.choice("ab") for _ in range(60)) for _ in range(300_000)]),
    ]


def alarm(*_):
    raise KeyboardInterrupt


def interrupt_lateness(tries=10):
    """Worst time from a timer signal's due moment to the KeyboardInterrupt, at random moments
    of each call (at most about 100 ms)."""
    rng = random.Random(5)
    print(f"\n{'Ctrl-C inside':34s} {'whole (s)':>11s} {'worst (ms)':>10s}")
    for pattern, names in interrupt_cases():
        dag = torvex.DAG()
        dag.add_nodes(list(dict.fromkeys(names)))
        _, whole = timed(lambda: dag.nodes_matching_regex(pattern))
        worst = 0.0
        signal.signal(signal.SIGALRM, alarm)
        for _ in range(tries):
            at = rng.uniform(0.001, whole * 0.9)
            start = time.perf_counter()
            try:
                try:
                    signal.setitimer(signal.ITIMER_REAL, at)
                    dag.nodes_matching_regex(pattern)
                finally:
                    signal.setitimer(signal.ITIMER_REAL, 0)
            except KeyboardInterrupt:
                worst = max(worst, time.perf_counter() - start - at)
        print(f"{pattern[:34]:34s} {whole:11.3f} {worst * 1e3:10.1f}", flush=True)


def torvex_run(dag, pattern):
    try:
        return len(dag.nodes_matching_regex(pattern))
    except torvex.GraphError as error:
        return f"refused ({str(error)[:60]})"


def paula_run(names, pattern):
    try:
        compiled = paula.Regex(pattern)
    except ValueError:
        return "refused"
    is_match = compiled.is_match
    return sum(1 for name in names if is_match(name))


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
    print(f"{'pattern':34s} {'torvex (s)':>11s} {'paula (s)':>10s} {'ratio':>7s}  kept")
    graphs = {}
    for pattern, names, label in cases(n) + compile_cases(n) + end_cases(n):
        key = id(names)
        if key not in graphs:
            graphs.clear()
            graphs[key] = torvex.DAG()
            graphs[key].add_nodes(names)
        dag = graphs[key]
        ours, ours_s = timed(lambda: torvex_run(dag, pattern))
        line = f"{label or pattern:34s} {ours_s:11.3f}"
        if paula is not None:
            theirs, theirs_s = timed(lambda: paula_run(names, pattern))
            line += f" {theirs_s:10.3f} {ours_s / theirs_s:7.2f}  {ours}"
            if ours != theirs:
                line += f" (paula: {theirs})"
        else:
            line += f"  {ours}"
        print(line, flush=True)


if __name__ == "__main__":
    main()
    interrupt_lateness()
