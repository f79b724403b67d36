"""Every algorithm that walks the graph in depth, on one long chain.

A recursion whose depth grows with the graph would overflow the native stack long before the
end of the chain and take the interpreter down. TORVEX_SCALE_NODES sets the chain's length:
1 million by default, short because CI runs the suite under each interpreter; 10 million is
the figure to check before a release. Setting it also runs the long copies through the file
forms.
"""

import os

import pytest

from torvex import DAG

pytestmark = pytest.mark.slow

N = int(os.environ.get("TORVEX_SCALE_NODES", "1000000"))
FULL_RUN = "TORVEX_SCALE_NODES" in os.environ


@pytest.fixture(scope="module")
def chain():
    dag = DAG()
    names = [f"n{i}" for i in range(N)]
    dag.add_nodes(names)
    # Added front to back, each cycle test finds the new target without successors.
    dag.add_edges([(names[i], names[i + 1]) for i in range(N - 1)])
    return dag, names


def in_chain_order(ids, names):
    return len(ids) == len(names) and all(a.name == b for a, b in zip(ids, names))


# name: (method, arguments from (dag, names), check of the result). Some of these wrap a long
# chain once more in a list or a graph; that is the price of checking the whole result.
CASES = {
    "validate": ("validate", lambda d, n: (), lambda r, n: r is True),
    "kahn": ("topological_sort", lambda d, n: (), in_chain_order),
    "dfs": ("topological_sort_dfs", lambda d, n: (), in_chain_order),
    "levels": ("topological_levels", lambda d, n: (),
               lambda r, n: len(r) == len(n) and r[-1][0].name == n[-1]),
    "iter_kahn": ("iter_topological_sort", lambda d, n: (), lambda r, n: len(r) == len(n)),
    "first_ordering": ("all_topological_orderings", lambda d, n: (1,),
                       lambda r, n: len(r) == 1 and in_chain_order(r[0], n)),
    "descendants": ("descendants", lambda d, n: (n[0],), lambda r, n: len(r) == len(n) - 1),
    "ancestors": ("ancestors", lambda d, n: (n[-1],),
                  lambda r, n: len(r) == len(n) - 1 and r[-1].name == n[0]),
    "is_ancestor": ("is_ancestor", lambda d, n: (n[0], n[-1]), lambda r, n: r is True),
    "shortest_path": ("shortest_path", lambda d, n: (n[0], n[-1]), in_chain_order),
    "longest_path": ("longest_path", lambda d, n: (n[0], n[-1]),
                     lambda r, n: in_chain_order(r[0], n) and r[1] == len(n)),
    "all_paths": ("all_paths", lambda d, n: (n[0], n[-1], 1),
                  lambda r, n: len(r) == 1 and in_chain_order(r[0], n)),
    "dominator_tree": ("dominator_tree", lambda d, n: (n[0],),
                       lambda r, n: len(r) == len(n)),
    "reverse": ("reverse", lambda d, n: (), lambda r, n: r.edge_count() == len(n) - 1),
    "transitive_reduction": ("transitive_reduction", lambda d, n: (),
                             lambda r, n: r.edge_count() == len(n) - 1),
    "stats": ("stats", lambda d, n: (), lambda r, n: r.node_count == len(n)),
    "dirty_set": ("dirty_set", lambda d, n: ([n[0]],), lambda r, n: len(r) == len(n)),
    "change_provenance": ("change_provenance", lambda d, n: ([n[0]],),
                          lambda r, n: len(r) == len(n)),
    "subgraph_by_depth": ("subgraph_by_depth", lambda d, n: (n[0], len(n), "forward"),
                          lambda r, n: r.edge_count() == len(n) - 1),
    "critical_path": ("critical_path", lambda d, n: (), lambda r, n: r is not None),
    "bottom_levels": ("bottom_levels", lambda d, n: (), lambda r, n: len(r) == len(n)),
    "execution_plan": ("execution_plan", lambda d, n: (), lambda r, n: r is not None),
    "execution_plan_constrained": ("execution_plan_constrained", lambda d, n: (2,),
                                   lambda r, n: r is not None),
    "priority_order": ("topological_sort_priority", lambda d, n: (), in_chain_order),
    "priority_levels": ("topological_levels_priority", lambda d, n: (),
                        lambda r, n: len(r) == len(n)),
    "partition_level_based": ("partition_level_based", lambda d, n: (2,),
                              lambda r, n: r is not None),
    "partition_balanced": ("partition_balanced", lambda d, n: (2,), lambda r, n: r is not None),
    "diff": ("diff", lambda d, n: (d,), lambda r, n: r is not None),
}


@pytest.mark.parametrize("case", list(CASES))
def test_deep_chain(chain, case):
    dag, names = chain
    method, arguments, check = CASES[case]
    result = getattr(dag, method)(*arguments(dag, names))
    assert check(result, names)
    del result


@pytest.mark.skipif(not FULL_RUN, reason="no depth to walk; a long copy, left to full runs")
def test_deep_chain_round_trips_through_the_file_forms(chain):
    dag, names = chain
    back = DAG.from_bytes(dag.to_bytes())
    assert back.edge_count() == len(names) - 1 and back.validate()
    del back
    back = DAG.from_json(dag.to_json())
    assert back.node_count() == len(names) and back.validate()
