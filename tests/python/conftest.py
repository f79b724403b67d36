"""Shared checkers for the Python suite."""

import subprocess
import sys
import textwrap

import pytest

from torvex import DAG, NodeId


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "slow: long-running scale checks; deselect with -m 'not slow'")


def names(ids):
    """The names of a list of NodeId, checking the element type on the way."""
    assert all(type(i) is NodeId for i in ids)
    return [i.name for i in ids]


def is_topo_order(dag, order):
    """Every node once, and every edge from an earlier to a later node."""
    position = {node.name: k for k, node in enumerate(order)}
    return len(position) == len(order) == len(dag) and all(
        position[a] < position[b] for a, b in dag.edges())


# Graphs for scripts run in a fresh interpreter, which start with this text.
SCRIPT_GRAPHS = textwrap.dedent('''
    from torvex import DAG

    def chain(n, extra=()):
        dag = DAG()
        dag.add_nodes([f"n{i}" for i in range(n)])
        dag.add_edges([(f"n{i}", f"n{i + 1}") for i in range(n - 1)] + list(extra))
        return dag

    def ladder(rungs):  # 2 ** rungs paths from top to bottom
        dag = DAG()
        dag.add_nodes(["top", "bottom"] + [f"{s}{i}" for i in range(rungs) for s in "lr"])
        above = ["top"]
        for i in range(rungs):
            dag.add_edges([(u, f"{s}{i}") for u in above for s in "lr"])
            above = [f"l{i}", f"r{i}"]
        dag.add_edges([(u, "bottom") for u in above])
        return dag

    def independent(n):  # n! orderings
        dag = DAG()
        dag.add_nodes([f"x{i}" for i in range(n)])
        return dag
''')


def run_python(code, *flags, args=(), timeout=60):
    """Runs code in a fresh interpreter, the one running the tests; returns the finished run."""
    return subprocess.run([sys.executable, *flags, "-c", textwrap.dedent(code), *args],
                          capture_output=True, text=True, timeout=timeout)


def chain(n):
    """"0" -> "1" -> ... -> str(n - 1)."""
    dag = DAG()
    dag.add_nodes([str(i) for i in range(n)])
    dag.add_edges([(str(i), str(i + 1)) for i in range(n - 1)])
    return dag


def snapshot(dag):
    """Everything observable about a graph's shape, for checking that a call changed nothing."""
    return (dag.node_names(), dag.edges(), dag.generation,
            [(n.name, n.index) for n in dag.nodes()])


@pytest.fixture
def diamond():
    """a -> b -> d and a -> c -> d."""
    dag = DAG()
    dag.add_nodes(["a", "b", "c", "d"])
    dag.add_edges([("a", "b"), ("a", "c"), ("b", "d"), ("c", "d")])
    return dag
