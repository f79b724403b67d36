"""Dirty sets and change provenance: orders, argument forms and errors, and a reference model."""

import collections.abc

import pytest
from hypothesis import given, settings, strategies as st

from conftest import snapshot
from torvex import DAG, NodeNotFoundError, StaleNodeRefError


def build(names, edges):
    dag = DAG()
    dag.add_nodes(names)
    dag.add_edges(edges)
    return dag


@pytest.fixture
def chain():
    return build(["a", "b", "c"], [("a", "b"), ("b", "c")])


@pytest.mark.parametrize("changed, dirty, provenance", [
    ([], set(), {}),
    (["a"], {"a", "b", "c"}, {"a": ["a"], "b": ["a"], "c": ["a"]}),
    (["a", "b"], {"a", "b", "c"}, {"a": ["a"], "b": ["b", "a"], "c": ["b", "a"]}),
    (["c"], {"c"}, {"c": ["c"]}),
    (["a", "a"], {"a", "b", "c"}, {"a": ["a"], "b": ["a"], "c": ["a"]}),
])
def test_chain(chain, changed, dirty, provenance):
    result = chain.dirty_set(changed)
    assert len(result) == len(dirty) and set(result) == dirty
    assert chain.change_provenance(changed) == provenance


def test_diamond_provenance_follows_the_newest_incoming_edge_first(diamond):
    assert diamond.change_provenance(["b", "c"]) == {"b": ["b"], "c": ["c"], "d": ["c", "b"]}


class Names(collections.abc.Sequence):
    def __init__(self, *items):
        self.items = items

    def __getitem__(self, i):
        return self.items[i]

    def __len__(self):
        return len(self.items)


def test_any_sequence_of_names_and_refs(chain):
    ref = chain.node_ref("b")
    for changed in (("b",), [ref], Names("b"), [type("S", (str,), {})("b")]):
        assert sorted(chain.dirty_set(changed)) == ["b", "c"]
        assert chain.change_provenance(changed=changed) == {"b": ["b"], "c": ["b"]}


@pytest.mark.parametrize("method", ["dirty_set", "change_provenance"])
@pytest.mark.parametrize("changed, text", [
    ("a", "Can't extract `str` to `Vec`"),
    (5, "'int' object cannot be converted to 'Sequence'"),
    ({"a"}, "'set' object cannot be converted to 'Sequence'"),
    ((n for n in "a"), "'generator' object cannot be converted to 'Sequence'"),
    (["a", 3], "expected str or NodeRef for node identifier"),
])
def test_malformed_arguments(chain, method, changed, text):
    before = snapshot(chain)
    with pytest.raises(TypeError) as info:
        getattr(chain, method)(changed)
    assert str(info.value) == f"argument 'changed': {text}"
    assert snapshot(chain) == before
    with pytest.raises(TypeError, match=rf"^DAG\.{method}\(\) missing 1 required positional "
                                        r"argument: 'changed'$"):
        getattr(chain, method)()


@pytest.mark.parametrize("method", ["dirty_set", "change_provenance"])
def test_missing_and_stale_nodes(chain, method):
    call = getattr(chain, method)
    with pytest.raises(NodeNotFoundError, match="^x$"):
        call(["a", "x", "y"])
    old = chain.node_ref("c")
    chain.remove_node("c")
    with pytest.raises(NodeNotFoundError, match="^c$"):
        call(["a", old])
    chain.add_node("c")
    # Handles are checked before any name is looked up.
    with pytest.raises(StaleNodeRefError, match="^c$"):
        call(["x", old])


def reference_provenance(dag, changed):
    """Backward breadth-first search per dirty node over the public neighbour lists."""
    changed = set(changed)
    dirty = changed | {d.name for c in changed for d in dag.descendants(c)}
    result = {}
    for d in dirty:
        sources, seen, queue = [d] if d in changed else [], {d}, collections.deque([d])
        while queue:
            for p in dag.predecessors(queue.popleft()):
                if p.name not in seen:
                    seen.add(p.name)
                    queue.append(p.name)
                    if p.name in changed:
                        sources.append(p.name)
        result[d] = sources
    return dirty, result


@st.composite
def graphs_and_changes(draw):
    n = draw(st.integers(1, 12))
    pairs = st.tuples(st.integers(0, n - 1), st.integers(0, n - 1)).filter(lambda p: p[0] < p[1])
    edges = draw(st.lists(pairs, max_size=30))
    changed = draw(st.lists(st.integers(0, n - 1), max_size=5))
    # Names out of index order, so that no order follows from the names.
    return (build([f"n{(7 * i) % 13}" for i in range(n)],
                  [(f"n{(7 * a) % 13}", f"n{(7 * b) % 13}") for a, b in edges]),
            [f"n{(7 * i) % 13}" for i in changed])


@settings(max_examples=150, deadline=None)
@given(graphs_and_changes())
def test_against_a_reference_model(case):
    dag, changed = case
    dirty, provenance = reference_provenance(dag, changed)
    result = dag.dirty_set(changed)
    assert len(result) == len(dirty) and set(result) == dirty
    assert dag.change_provenance(changed) == provenance
