"""Selecting nodes by regular expression and by glob."""

import pytest

from torvex import DAG, GraphError, NodeId

METHODS = ["nodes_matching_regex", "nodes_matching_glob"]


def test_glob_matches_whole_names_regex_searches_anywhere():
    dag = DAG()
    for name in ["task_1", "task_", "my_task_1", "node_ab"]:
        dag.add_node(name)

    def names(method, pattern):
        ids = getattr(dag, method)(pattern=pattern)
        assert all(type(i) is NodeId for i in ids)
        return [(i.name, i.index) for i in ids]

    assert names("nodes_matching_glob", "task_*") == [("task_1", 0), ("task_", 1)]
    assert names("nodes_matching_glob", "node_?") == []
    assert names("nodes_matching_regex", "task") == [("task_1", 0), ("task_", 1), ("my_task_1", 2)]
    assert names("nodes_matching_regex", "^task") == [("task_1", 0), ("task_", 1)]
    with pytest.raises(GraphError) as info:
        dag.nodes_matching_regex("(")
    assert info.value.args == ("Invalid regex pattern: unclosed group: `(`",)
    for pattern in ["(a)\\1", "(?=a)", "x" * 500_000]:
        with pytest.raises(GraphError, match="^Invalid regex pattern: "):
            dag.nodes_matching_regex(pattern)
    assert names("nodes_matching_glob", "(") == []
    dag.add_node("(")
    assert names("nodes_matching_glob", "(") == [("(", 4)]


@pytest.mark.parametrize("method", METHODS)
def test_arguments(method):
    match = getattr(DAG(), method)
    assert match("") == []
    for call in [(b"task",), (1,), (None,), (), ("a", "b")]:
        with pytest.raises(TypeError):
            match(*call)
    assert getattr(DAG, method).__text_signature__ == "($self, pattern)"
    assert getattr(DAG, method).__doc__.startswith("Return nodes whose names match")
