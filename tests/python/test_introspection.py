"""Reading structure, payloads and metadata; validation; a model-based check."""

import pytest
from hypothesis import given, settings, strategies as st

from conftest import is_topo_order, names, snapshot
from torvex import DAG, CycleError, NodeNotFoundError, StaleNodeRefError


def test_structure_queries(diamond):
    assert names(diamond.nodes()) == ["a", "b", "c", "d"]
    assert [n.index for n in diamond.nodes()] == [0, 1, 2, 3]
    assert names(diamond.roots()) == ["a"] and names(diamond.leaves()) == ["d"]
    assert (diamond.node_count(), diamond.edge_count()) == (4, 4)
    assert names(diamond.successors("a")) == ["c", "b"]  # newest edge first
    assert names(diamond.predecessors("d")) == ["c", "b"]
    assert (diamond.in_degree("d"), diamond.out_degree("d")) == (2, 0)
    assert names(diamond.descendants("a")) == ["c", "b", "d"]
    assert names(diamond.ancestors("d")) == ["c", "b", "a"]
    assert diamond.ancestors("a") == [] and diamond.descendants("d") == []


def test_has_node_and_has_edge(diamond):
    assert diamond.has_node("a") and not diamond.has_node("zz")
    with pytest.raises(TypeError, match="^argument 'node': expected str or NodeRef"):
        diamond.has_node(1)
    assert diamond.has_edge("a", "b") and not diamond.has_edge("b", "a")
    with pytest.raises(NodeNotFoundError, match="^zz$"):
        diamond.has_edge("a", "zz")
    with pytest.raises(NodeNotFoundError, match="^xx$"):
        diamond.has_edge("xx", "zz")
    with pytest.raises(TypeError, match="^argument 'to_node'"):
        diamond.has_edge("a", None)


@pytest.mark.parametrize("method", ["successors", "predecessors", "in_degree", "out_degree",
                                    "ancestors", "descendants", "iter_ancestors",
                                    "iter_descendants", "get_payload", "get_metadata"])
def test_node_queries_report_missing_and_stale_nodes(method):
    dag = DAG()
    old = dag.add_node("a")
    call = getattr(dag, method)
    with pytest.raises(NodeNotFoundError, match="^zz$"):
        call("zz")
    dag.remove_node("a")
    with pytest.raises(NodeNotFoundError, match="^a$"):
        call(old)
    dag.add_node("a")
    with pytest.raises(StaleNodeRefError, match="^a$"):
        call(old)


def test_payload_and_metadata_setters():
    dag = DAG()
    ref = dag.add_node("n", "p", "m")
    dag.topological_sort()
    generation, cache = dag.generation, dag.cache_info()
    new = object()
    assert dag.set_payload(ref, new) is None and dag.get_payload("n") is new
    dag.set_metadata(node="n", metadata=None)
    assert dag.get_metadata("n") is None
    dag.set_payload("n", None)
    assert dag.get_payload("n") is None
    assert dag.generation == generation and dag.cache_info() == cache
    with pytest.raises(NodeNotFoundError):
        dag.set_payload("zz", 1)
    with pytest.raises(TypeError, match="missing 1 required positional argument: 'payload'"):
        dag.set_payload("n")


def test_validate():
    assert DAG().validate() is True
    dag = DAG()
    dag.add_nodes(["a", "b"])
    dag.add_edge("a", "b")
    assert dag.validate() is True
    assert "CycleError" in DAG.validate.__doc__


@st.composite
def operations(draw):
    return draw(st.lists(st.tuples(st.sampled_from(["node", "edge", "drop_node", "drop_edge"]),
                                   st.integers(0, 7), st.integers(0, 7)), max_size=60))


@settings(max_examples=150, deadline=None)
@given(operations())
def test_against_a_reference_model(ops):
    """Random changes, mirrored in plain Python; every query must agree with the model."""
    dag, nodes, edges = DAG(), [], []  # edges: (source, target) in insertion order

    def reaches(start, goal):
        stack, seen = [start], set()
        while stack:
            n = stack.pop()
            if n == goal:
                return True
            if n not in seen:
                seen.add(n)
                stack.extend(t for s, t in edges if s == n)
        return False

    for op, i, j in ops:
        a, b = f"n{i}", f"n{j}"
        before = snapshot(dag)
        if op == "node":
            if a in nodes:
                with pytest.raises(Exception):
                    dag.add_node(a)
            else:
                dag.add_node(a)
                nodes.append(a)
        elif op == "edge" and a in nodes and b in nodes:
            if reaches(b, a):
                with pytest.raises(CycleError):
                    dag.add_edge(a, b)
            else:
                dag.add_edge(a, b)
                edges.append((a, b))
        elif op == "drop_node" and a in nodes:
            dag.remove_node(a)
            nodes.remove(a)
            edges = [e for e in edges if a not in e]
        elif op == "drop_edge" and a in nodes and b in nodes:
            if (a, b) in edges:
                dag.remove_edge(a, b)
                del edges[len(edges) - 1 - edges[::-1].index((a, b))]
            else:
                with pytest.raises(Exception):
                    dag.remove_edge(a, b)
        else:
            continue
        if snapshot(dag) == before:
            continue
        assert sorted(dag.node_names()) == sorted(nodes)
        assert sorted(dag.edges()) == sorted(edges)
        assert is_topo_order(dag, dag.topological_sort())
        assert is_topo_order(dag, dag.topological_sort_dfs())
        for n in nodes:
            assert sorted(names(dag.descendants(n))) == sorted(
                m for m in nodes if m != n and reaches(n, m))
            assert dag.out_degree(n) == sum(1 for s, _ in edges if s == n)
        assert dag.validate()
