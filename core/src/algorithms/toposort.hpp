// Topological orders over the stable graph: Kahn, depth-first, levels, and all orderings.
// Every list of candidates is sorted by name before use, so every result is deterministic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "errors.hpp"
#include "graph/flat_successors.hpp"
#include "graph/stable_graph.hpp"
#include "lists.hpp"

namespace torvex::algorithms {

// Kahn's order: sources by name into a FIFO queue; each node's successors released in name order.
// Errors: Cycle "Graph contains a cycle". Complexity: O(V + E + sorting of successor lists).
Result<IndexList> topological_sort_kahn(const StableGraph& graph);
// The same from the graph's working forms (see GraphStore::flat_successors).
Result<IndexList> topological_sort_kahn(const StableGraph& graph, const FlatSuccessors& successors,
                                        const NamePrefixes& prefixes);

// Reversed postorder of a depth-first search started from every node in name order, children
// visited in name order. Iterative: safe on chains of any length.
// Errors: Cycle "Graph contains a cycle".
Result<IndexList> topological_sort_dfs(const StableGraph& graph);

// Level k holds the nodes whose longest path from a source has k edges, each level in name order.
// Errors: Cycle "Graph contains a cycle".
Result<Levels> topological_levels(const StableGraph& graph);
Result<Levels> topological_levels(const StableGraph& graph, const FlatSuccessors& successors,
                                  const NamePrefixes& prefixes);

// Every topological ordering in lexicographic name order, the first `limit` of them when given.
// The empty graph gives no ordering. Errors: Cycle "Graph contains a cycle".
// Complexity: one name sort, then O(V + E) per ordering and O(V) extra space besides the
// results (one ready set with undo); up to n! orderings without a limit.
Result<std::vector<IndexList>> all_topological_orderings(const StableGraph& graph,
                                                         std::optional<std::size_t> limit);

// Sorts node indices by name (stable; equal entries are repeats of one node).
void sort_by_name(const StableGraph& graph, IndexList& nodes);
// The same with the name prefixes of every slot at hand.
void sort_by_name(const StableGraph& graph, const NamePrefixes& prefixes, IndexList& nodes);

}  // namespace torvex::algorithms
