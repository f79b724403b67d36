// Which edges a transitive closure would add, and which a transitive reduction would drop.
#pragma once

#include <boost/unordered/unordered_flat_set.hpp>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "graph/stable_graph.hpp"
#include "lists.hpp"
#include "types.hpp"

namespace torvex::algorithms {

// (source, target) node indices.
using NodePair = std::pair<NodeIndex, NodeIndex>;

// A set of (source, target) pairs.
class NodePairSet {
 public:
  bool contains(NodeIndex source, NodeIndex target) const {
    return pairs_.contains(key(source, target));
  }
  void insert(NodeIndex source, NodeIndex target) { pairs_.insert(key(source, target)); }
  std::size_t size() const noexcept { return pairs_.size(); }
  bool empty() const noexcept { return pairs_.empty(); }
  // The pairs in ascending (source, target) order.
  std::vector<NodePair> sorted() const;

 private:
  static std::uint64_t key(NodeIndex source, NodeIndex target) noexcept {
    return (std::uint64_t{source} << 32) | target;
  }
  boost::unordered_flat_set<std::uint64_t> pairs_;
};

// The pairs (U, W) where W is reachable from U but no edge U -> W exists, each once.
// Returns: pairs grouped by U in node slot order; within a group, in depth-first discovery order.
// Complexity: O(V * (V + E)) time in the worst case, O(V) extra space besides the result.
std::vector<NodePair> transitive_closure_new_edges(const StableGraph& graph);

// The pairs (U, V) of the edges U -> V that a path of two or more edges makes redundant.
// Parallel edges share one pair and one verdict. The graph must be acyclic (a stored graph is);
// nodes on or behind a cycle take no part.
// Complexity: O(V + E log E + E * V / 64) time at worst: descendant sets are bit rows over a
// topological order, built one block of columns at a time and only where a verdict reads them
// (none on a chain); O(V + E) extra space plus rows of at most 1024 bits per node, narrower on
// very large graphs.
NodePairSet transitive_reduction_redundant_edges(const StableGraph& graph);

}  // namespace torvex::algorithms
