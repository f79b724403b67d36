// Topological orders that prefer nodes of higher priority.
#pragma once

#include "algorithms/costs.hpp"
#include "errors.hpp"
#include "graph/stable_graph.hpp"
#include "lists.hpp"

namespace torvex::algorithms {

// One topological order: at every step the ready node of highest priority (IEEE total order)
// comes next, ties broken by the smaller name. A priority never lets a node pass a predecessor.
// `priorities` reads 0.0 for nodes without an entry (construct it with fallback 0.0).
// Errors: Cycle "Graph contains a cycle".
// Complexity: O((V + E) log V) time, O(V) extra space.
Result<IndexList> topological_sort_priority(const StableGraph& graph, const NodeValues& priorities);

// The topological levels, each level ordered by descending priority and then by name.
// The grouping is that of topological_levels; only the order within a level differs.
// Errors: Cycle "Graph contains a cycle".
// Complexity: O(V log V + E) time, O(V) extra space.
Result<Levels> topological_levels_priority(const StableGraph& graph, const NodeValues& priorities);

}  // namespace torvex::algorithms
