// The stats topic: a summary of a graph's size and shape in fourteen numbers.
#pragma once

#include <cstdint>

#include "errors.hpp"
#include "graph/dag.hpp"
#include "graph/stable_graph.hpp"

namespace torvex {

struct GraphStatsResult {
  std::uint64_t node_count = 0;
  std::uint64_t edge_count = 0;           // parallel edges counted each
  std::uint64_t depth = 0;                // number of topological levels
  std::uint64_t width = 0;                // size of the largest level
  double density = 0.0;                   // m / (n (n - 1)); above 1.0 with parallel edges
  std::uint64_t longest_path_length = 0;  // in edges
  double avg_in_degree = 0.0;
  double avg_out_degree = 0.0;
  std::uint64_t max_in_degree = 0;
  std::uint64_t max_out_degree = 0;
  std::uint64_t root_count = 0;
  std::uint64_t leaf_count = 0;
  bool is_weakly_connected = true;  // fewer than two components
  std::uint64_t component_count = 0;
  friend bool operator==(const GraphStatsResult&, const GraphStatsResult&) = default;
};

// Computes the levels afresh (the cache is neither read nor filled, so its counters stay).
// The empty graph gives all zeros and is weakly connected.
// Errors: Cycle "Graph contains a cycle" should the graph ever hold one.
// Complexity: O(V + E) time, O(V) extra space.
Result<GraphStatsResult> stats(const GraphStore& store);

// The number of weakly connected components: edge direction ignored. Iterative.
// Complexity: O(V + E) time, O(V) extra space.
std::uint64_t count_weak_components(const StableGraph& graph);

}  // namespace torvex
