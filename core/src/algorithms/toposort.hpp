// Topological orders over the stable graph: Kahn, depth-first, levels, and all orderings.
// Every list of candidates is sorted by name before use, so every result is deterministic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "errors.hpp"
#include "graph/cache.hpp"
#include "graph/stable_graph.hpp"

namespace torvex::algorithms {

// Kahn's order: sources by name into a FIFO queue; each node's successors released in name order.
// Errors: Cycle "Graph contains a cycle". Complexity: O(V + E + sorting of successor lists).
Result<IndexList> topological_sort_kahn(const StableGraph& graph);

// Reversed postorder of a depth-first search started from every node in name order, children
// visited in name order. Iterative: safe on chains of any length.
// Errors: Cycle "Graph contains a cycle".
Result<IndexList> topological_sort_dfs(const StableGraph& graph);

// Level k holds the nodes whose longest path from a source has k edges, each level in name order.
// Errors: Cycle "Graph contains a cycle".
Result<Levels> topological_levels(const StableGraph& graph);

// Every topological ordering in lexicographic name order, the first `limit` of them when given.
// The empty graph gives no ordering. Errors: Cycle "Graph contains a cycle".
// Complexity: one name sort, then O(V + E) per ordering and O(V) extra space besides the
// results (one ready set with undo); up to n! orderings without a limit.
Result<std::vector<IndexList>> all_topological_orderings(const StableGraph& graph,
                                                         std::optional<std::size_t> limit);

// Every slot's successors in one flat array, with every slot's in-degree (parallel edges counted
// each). Within one node the successors come in edge slot order, not list order: only for
// algorithms whose result does not depend on the order of a node's successors.
// Complexity: two sequential passes over the edge slots; 4(V + E) bytes.
class FlatSuccessors {
 public:
  explicit FlatSuccessors(const StableGraph& graph);

  const NodeIndex* begin(NodeIndex n) const noexcept { return targets_.data() + start_[n]; }
  const NodeIndex* end(NodeIndex n) const noexcept { return targets_.data() + start_[n + 1]; }
  // In-degree per slot, for the caller to count down.
  std::vector<std::uint32_t>& in_degree() noexcept { return in_degree_; }

 private:
  std::vector<std::uint32_t> start_;
  std::vector<NodeIndex> targets_;
  std::vector<std::uint32_t> in_degree_;
};

// Sorts node indices by name (stable; equal entries are repeats of one node).
void sort_by_name(const StableGraph& graph, IndexList& nodes);

}  // namespace torvex::algorithms
