"""Dirty sets and change provenance from Python: results, argument forms and errors."""

import collections.abc

import pytest

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


# Orders and repeats are the core's business; these check the lists and dicts built from them.
@pytest.mark.parametrize("changed, dirty, provenance", [
    ([], set(), {}),
    (["a", "b"], {"a", "b", "c"}, {"a": ["a"], "b": ["b", "a"], "c": ["b", "a"]}),
    (["c"], {"c"}, {"c": ["c"]}),
])
def test_chain(chain, changed, dirty, provenance):
    result = chain.dirty_set(changed)
    assert len(result) == len(dirty) and set(result) == dirty
    assert chain.change_provenance(changed) == provenance


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
