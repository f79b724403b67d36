"""The examples that make demo runs, here on a smaller build."""

import pathlib
import runpy
import shutil
import types

from conftest import is_topo_order

EXAMPLES = pathlib.Path(__file__).parents[2] / "examples"


def load(name):
    return types.SimpleNamespace(**runpy.run_path(str(EXAMPLES / f"{name}.py"), run_name=name))


def test_quickstart_runs(capsys):
    load("quickstart").main()
    out = capsys.readouterr().out
    assert "refused: Edge package -> configure would create a cycle" in out
    assert "build order: fetch -> " in out


def test_build_pipeline_claims_hold_and_its_files_are_written(tmp_path, capsys):
    example = load("build_pipeline")
    dag, costs = example.make_build(600)
    assert 600 <= len(dag) < 650 and set(costs) == set(dag.node_names())
    assert dag.leaves()[0].name == "package" and len(dag.leaves()) == 1

    # The bounded plan ends no sooner than either lower bound it is compared with.
    plan = dag.execution_plan_constrained(4, costs)
    end = example.finish_time(plan)
    assert plan.total_nodes == len(dag)
    assert end >= plan.estimated_makespan == dag.critical_path(costs)[1]
    assert end >= sum(costs.values()) / 4 - 1e-9

    # The dirty set, put in build order: closed downstream, and an order the graph allows.
    dirty = example.in_build_order(dag, dag.dirty_set(["lib001/headers"]))
    assert dirty[0] == "lib001/headers" and dirty[-1] == "package"
    assert all(s.name in dirty for n in dirty for s in dag.successors(n))
    part = dag.subgraph(dirty)
    assert is_topo_order(part, part.nodes())

    example.main(["--tasks", "300", "--workers", "3", "--out", str(tmp_path / "out")])
    out = capsys.readouterr().out
    dot = tmp_path / "out" / "build_pipeline.dot"
    assert f": {dot}\n" in out and dot.read_text().startswith("digraph {\n")
    svg = dot.with_suffix(".svg")
    if shutil.which("dot"):
        assert f"SVG: {svg}\n" in out and svg.read_text().lstrip().startswith("<?xml")
    else:
        assert "Graphviz is not installed" in out and not svg.exists()
