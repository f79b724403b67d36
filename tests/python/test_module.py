"""The module itself: names, classes, repeated and refused initialisation."""

import ast
import importlib.metadata
import os
import pathlib
import shutil
import subprocess
import tomllib

import pytest

import torvex
import torvex._internal as internal
from conftest import run_python

CLASSES = ["DAG", "NodeId", "NodeRef", "ScheduledNode", "ExecutionStep", "ExecutionPlan",
           "ReachabilityIndex", "GraphStats", "GraphDiff", "NodeIterator", "NodeLevelIterator",
           "PartitionInfo", "PartitionResult"]
EXCEPTIONS = ["TorvexError", "CycleError", "NodeNotFoundError", "DuplicateNodeError",
              "EdgeNotFoundError", "GraphError", "StaleNodeRefError"]


def test_all_lists_the_twenty_names_in_order():
    assert internal.__all__ == CLASSES + EXCEPTIONS
    assert torvex.__all__ == internal.__all__
    assert internal.__doc__ == ""
    assert all(getattr(torvex, name) is getattr(internal, name) for name in internal.__all__)


def test_version_and_type_information_ship_with_the_package():
    pyproject = pathlib.Path(__file__).parents[2] / "pyproject.toml"
    declared = tomllib.loads(pyproject.read_text())["project"]["version"]
    assert torvex.__version__ == importlib.metadata.version("torvex") == declared
    assert "__version__" not in torvex.__all__
    package = pathlib.Path(torvex.__file__).parent
    assert (package / "py.typed").is_file() and (package / "_internal.pyi").is_file()


def test_the_module_exports_only_its_init_function():
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm (binutils) is not installed")
    listing = subprocess.run([nm, "-D", "--defined-only", internal.__file__],
                             capture_output=True, text=True, check=True).stdout
    assert [line.split()[-1] for line in listing.splitlines()] == ["PyInit__internal"]


def test_second_initialisation_returns_the_same_module():
    result = run_python("""
        import sys
        import torvex._internal as first
        del sys.modules["torvex._internal"]
        import torvex._internal as second
        assert second is first and second.DAG is first.DAG
        print("same")
    """)
    assert result.stdout.strip() == "same", result.stderr


def test_import_is_silent_even_with_warnings_as_errors():
    result = run_python("import torvex; print(torvex.DAG.__module__)", "-W", "error")
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "torvex._internal"


def test_a_second_interpreter_is_refused():
    pytest.importorskip("_testcapi")
    result = run_python("""
        import _testcapi, torvex
        _testcapi.run_in_subinterp('''
        try:
            import torvex._internal
        except ImportError as e:
            print("refused:", e)
        ''')
        print(len(torvex.DAG()))
    """)
    lines = result.stdout.splitlines()
    assert lines[0].startswith("refused:") and "sub-interpreters" in lines[0], result.stderr
    assert lines[1] == "0"


@pytest.mark.parametrize("name", CLASSES)
def test_classes_are_final_and_have_no_instance_dict(name):
    cls = getattr(internal, name)
    assert cls.__name__ == cls.__qualname__ == name
    assert cls.__module__ == "torvex._internal"
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    assert "__dict__" not in dir(cls) and "__weakref__" not in dir(cls)


@pytest.mark.parametrize("name", [c for c in CLASSES if c != "DAG"])
def test_only_dag_can_be_constructed(name):
    with pytest.raises(TypeError, match=f"^No constructor defined for {name}$"):
        getattr(internal, name)()


def signature_lines():
    """Each class and member of the module: its text signature and the first line of its doc."""
    lines = []
    for name in CLASSES + EXCEPTIONS:
        cls = getattr(internal, name)
        for key in [""] + [k for k in vars(cls) if not k.startswith("__")]:
            member = getattr(cls, key) if key else cls
            doc = getattr(member, "__doc__", None)
            first = doc.splitlines()[0] if doc else "-"
            lines.append(f"{name}{'.' + key if key else ''}"
                         f"{getattr(member, '__text_signature__', None) or ''}: {first}")
    return lines


def test_signatures_and_docs_match_the_golden_list():
    """TORVEX_UPDATE_GOLDEN=1 rewrites the list from the module, to be read as a diff."""
    golden = pathlib.Path(__file__).parent / "golden" / "signatures.txt"
    text = "\n".join(signature_lines()) + "\n"
    if os.environ.get("TORVEX_UPDATE_GOLDEN"):
        golden.write_text(text)
    assert text == golden.read_text()


def test_instances_take_no_new_attributes():
    dag = internal.DAG()
    ref = dag.add_node("a")
    for obj in (dag, ref, dag.nodes()[0], dag.iter_nodes()):
        with pytest.raises(AttributeError):
            obj.extra = 1


def test_typed_calls_agree_with_the_module(tmp_path, monkeypatch):
    """tests/typing/calls.py is type-checked, never run by mypy: here the calls it accepts run,
    and each it refuses fails at run time too."""
    path = pathlib.Path(__file__).parents[1] / "typing" / "calls.py"
    source = path.read_text()
    namespace = {"__name__": "calls"}
    exec(compile(source, str(path), "exec"), namespace)
    dag = internal.DAG()
    ref = dag.add_node("a")
    dag.add_nodes(["b", "c", "d"])
    monkeypatch.chdir(tmp_path)
    namespace["accepted"](dag, ref)
    refused = next(node for node in ast.parse(source).body
                   if isinstance(node, ast.FunctionDef) and node.name == "refused")
    scope = dict(namespace, dag=dag, index=dag.build_reachability_index())
    for statement in refused.body:
        line = ast.unparse(statement)
        with pytest.raises((TypeError, ValueError)):
            exec(line, scope)
            pytest.fail(f"accepted at run time: {line}")
