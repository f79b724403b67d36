"""A build of a few thousand tasks with durations, as one torvex graph.

Shows the critical path, a plan for a fixed number of workers, the diff of two versions of
the build, what one change makes dirty (in build order) and a DOT picture of a small part.

    .venv/bin/python examples/build_pipeline.py [--tasks 3000] [--workers 8] [--out build/demo]
"""

from __future__ import annotations

import argparse
import random
import shutil
import subprocess
from collections.abc import Sequence
from pathlib import Path
from typing import Any

import torvex

DEFAULT_OUT = Path(__file__).resolve().parent.parent / "build" / "demo"


def make_build(tasks: int, seed: int = 7) -> tuple[torvex.DAG, dict[str, float]]:
    """Libraries of generated headers, compiled sources, a link and a test each, on top of
    earlier libraries; apps linking several libraries; one package of everything.

    Payloads are the commands, metadata the kind of task; the returned dict holds each
    task's duration in seconds.
    """
    rng = random.Random(seed)
    dag = torvex.DAG()
    costs: dict[str, float] = {}

    def task(name: str, command: str, kind: str, seconds: float) -> str:
        dag.add_node(name, command, {"kind": kind})
        costs[name] = round(seconds, 2)
        return name

    libraries: list[str] = []
    apps: list[str] = []
    tests: list[str] = []
    while len(costs) < tasks - 1:
        n = len(libraries)
        lib = f"lib{n:03d}"
        headers = task(f"{lib}/headers", f"gen-headers {lib}", "codegen", 0.2)
        # Each library builds on up to three earlier ones, mostly recent ones.
        deps = sorted({rng.randrange(max(0, n - 12), n) for _ in range(rng.randint(0, 3))}
                      if n else [])
        dag.add_edges([(f"lib{d:03d}/headers", headers) for d in deps])
        objects = [task(f"{lib}/src/file{k:02d}.o", f"c++ -c {lib}/src/file{k:02d}.cpp",
                        "compile", rng.lognormvariate(0.5, 0.7))
                   for k in range(rng.randint(6, 40))]
        dag.add_edges([(headers, o) for o in objects])
        link = task(f"{lib}/link", f"ar rcs {lib}.a", "link", rng.uniform(1, 6))
        dag.add_edges([(o, link) for o in objects] + [(f"lib{d:03d}/link", link) for d in deps])
        tests.append(task(f"{lib}/test", f"ctest -R {lib}", "test", rng.uniform(2, 40)))
        dag.add_edge(link, f"{lib}/test")
        libraries.append(lib)
        if n % 10 == 9:  # after every tenth library, an app linking four libraries
            app = task(f"app{len(apps):02d}/link", f"c++ -o app{len(apps):02d}", "link",
                       rng.uniform(5, 20))
            dag.add_edges([(f"{dep}/link", app) for dep in rng.sample(libraries, 4)])
            apps.append(app)
    package = task("package", "cpack", "package", 30.0)
    dag.add_edges([(t, package) for t in apps + tests])
    return dag, costs


def in_build_order(dag: torvex.DAG, names: Sequence[str]) -> list[str]:
    """The given names in the graph's topological order (dirty_set has no order of its own)."""
    wanted = set(names)
    return [node.name for node in dag.topological_sort() if node.name in wanted]


def brief(names: Sequence[str], keep: int = 3) -> str:
    shown = list(names) if len(names) <= 2 * keep else [*names[:keep], "...", *names[-keep:]]
    return " -> ".join(shown)


def finish_time(plan: torvex.ExecutionPlan) -> float:
    return max((s.start_time + s.duration for step in plan.steps for s in step.nodes),
               default=0.0)


def main(argv: Sequence[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tasks", type=int, default=3000, help="about how many tasks")
    parser.add_argument("--workers", type=int, default=8, help="workers of the bounded plan")
    parser.add_argument("--out", type=Path, default=DEFAULT_OUT, help="where DOT/SVG go")
    args = parser.parse_args(argv)

    dag, costs = make_build(args.tasks)
    stats = dag.stats()
    total = sum(costs.values())
    print(f"build graph: {stats.node_count} tasks, {stats.edge_count} dependencies,"
          f" {stats.depth} levels, widest level {stats.width} tasks,"
          f" {total:.0f} s of work in all")

    # The critical path: the chain of tasks whose durations add up to the most. No number
    # of workers can finish the build sooner.
    path, length = dag.critical_path(costs)
    print(f"\ncritical path: {len(path)} tasks, {length:.1f} s")
    print("  " + brief([node.name for node in path]))

    # A plan for a fixed number of workers: ready tasks start as soon as a worker is free,
    # those with the longest remaining chain (bottom level) first.
    plan = dag.execution_plan_constrained(args.workers, costs)
    end = finish_time(plan)
    print(f"\nplan for {args.workers} workers: {len(plan.steps)} distinct start times,"
          f" last task ends at {end:.1f} s")
    print(f"  estimated_makespan = {plan.estimated_makespan:.1f} s is the critical path's length:"
          " the time with unlimited workers,")
    print("  whatever max_workers says; the bounded plan ends at its latest start_time + duration")
    print(f"  total work / workers = {total / args.workers:.1f} s is the other lower bound;"
          f" the workers are busy {total / (args.workers * end):.0%} of the time")
    more = [(w, finish_time(dag.execution_plan_constrained(w, costs))) for w in (32, 128, 512)]
    print("  more workers: " + ", ".join(f"{w} end at {t:.1f} s" for w, t in more))

    # A second version of the build: one file more, one test gone, one command changed,
    # one dependency annotated. The diff reads from the old version towards the new one.
    new = dag.snapshot()
    new.add_node("lib001/src/extra.o", "c++ -c lib001/src/extra.cpp", {"kind": "compile"})
    new.add_edges([("lib001/headers", "lib001/src/extra.o"),
                   ("lib001/src/extra.o", "lib001/link")])
    new.remove_node("lib002/test")
    new.set_payload("lib000/src/file00.o", "c++ -O3 -c lib000/src/file00.cpp")
    new.remove_edge("lib000/link", "lib000/test")
    new.add_edge("lib000/link", "lib000/test", label="runs the linked library")
    diff = dag.diff(new)
    print(f"\ndiff to the next version: {diff!r}")
    print(f"  added {diff.added_nodes}, removed {diff.removed_nodes},"
          f" changed {diff.changed_nodes}")
    print(f"  added edges {diff.added_edges}, changed edges {diff.changed_edges}")

    # What a change makes dirty: the changed tasks and everything downstream, in build order,
    # and how long rebuilding just those takes.
    changed = "lib000/headers"
    dirty = in_build_order(dag, dag.dirty_set([changed]))
    rebuild = dag.subgraph(dirty).execution_plan_constrained(args.workers, costs)
    print(f"\nchanging {changed} makes {len(dirty)} of {stats.node_count} tasks dirty;"
          f" rebuilding them takes {finish_time(rebuild):.1f} s on {args.workers} workers")
    print("  in build order: " + brief(dirty, keep=4))

    # A picture of a small part: the test of the smallest library that uses another library,
    # with its link and what the link needs. Nodes are filled by kind; critical-path tasks get
    # a thick border.
    def uses_a_library(link: str) -> bool:
        return any(p.name.endswith("/link") for p in dag.predecessors(link))

    smallest = min((name for name in dag.node_names()
                    if name.startswith("lib") and name.endswith("/link") and uses_a_library(name)),
                   key=dag.in_degree)
    near = dag.subgraph_by_depth(smallest.replace("/link", "/test"), 2, "backward")
    part = dag.subgraph(in_build_order(dag, near.node_names()))  # a stable node order
    on_path = {node.name for node in path}
    colours = {"codegen": "#e9c46a", "compile": "#a8dadc", "link": "#f4a261", "test": "#90be6d"}

    def attrs(name: str, payload: Any) -> str:
        kind = dag.get_metadata(name)["kind"]
        border = ", penwidth=3" if name in on_path else ""
        return (f'shape=box, style=filled, fillcolor="{colours.get(kind, "white")}",'
                f' label="{name}\\n{costs[name]:g} s"{border}')

    args.out.mkdir(parents=True, exist_ok=True)
    dot_file = args.out / "build_pipeline.dot"
    dot_file.write_text(part.to_dot(attrs) + "\n")
    print(f"\nDOT of {smallest.removesuffix('/link')}'s test and its inputs"
          f" ({len(part)} tasks): {dot_file}")
    dot = shutil.which("dot")
    if dot is None:
        print(f"  Graphviz is not installed; with it: dot -Tsvg {dot_file} -o picture.svg")
    else:
        svg_file = dot_file.with_suffix(".svg")
        subprocess.run([dot, "-Tsvg", str(dot_file), "-o", str(svg_file)], check=True)
        print(f"  SVG: {svg_file}")


if __name__ == "__main__":
    main()
