// Partitioning into at most k parts along the topological levels. For every edge u -> v the part
// id of u is at most that of v, so edges between parts run from a lower to a higher id.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "algorithms/costs.hpp"
#include "errors.hpp"
#include "graph/stable_graph.hpp"
#include "lists.hpp"

namespace torvex::algorithms {

using PartId = std::uint64_t;
inline constexpr PartId kNoPart = UINT64_MAX;
inline constexpr std::size_t kNoLevel = SIZE_MAX;

// Part of every slot; kNoPart for vacant or unassigned slots. Empty in the empty result.
using PartAssignment = std::vector<PartId>;

struct PartitionInfo {
  IndexList nodes;          // in the order in which they joined the part
  PartId partition_id = 0;  // equals the part's position in the list of parts
  double total_cost = 0.0;  // as added and subtracted by the strategy
  std::uint64_t incoming_cross_edges = 0;
  std::uint64_t outgoing_cross_edges = 0;
};

struct IndexedPartitionResult {
  std::vector<PartitionInfo> partitions;
  std::vector<std::vector<PartId>> partition_order;  // waves of ascending part ids
  PartAssignment assignment;
  std::uint64_t cross_edge_count = 0;  // parallel edges each count
};

// Contiguous runs of ceil(L / k') levels per part, k' = min(max(k, 1), L) for L levels.
// Errors: Cycle "Graph contains a cycle".
// Complexity: O(V log V + E).
Result<IndexedPartitionResult> partition_level_based(const StableGraph& graph, std::uint64_t k,
                                                     const NodeValues& costs);

// A greedy cut of the level order: a part closes once its cost reaches total / max(k, 1); parts
// that receive no node are dropped and the ids renumbered. Memory does not grow with k.
// Errors: Cycle "Graph contains a cycle".
// Complexity: O(V log V + E).
Result<IndexedPartitionResult> partition_balanced(const StableGraph& graph, std::uint64_t k,
                                                  const NodeValues& costs);

// The level-based parts, refined in at most max_iterations passes that move boundary nodes
// between neighbouring parts when that cuts edges and keeps each part's cost within
// (max_imbalance + 1) times the mean. No part becomes empty; ids keep their meaning.
// Errors: Cycle "Graph contains a cycle".
// Complexity: O(V log V + E) per pass.
Result<IndexedPartitionResult> partition_communication_min(const StableGraph& graph,
                                                           std::uint64_t k, const NodeValues& costs,
                                                           std::uint64_t max_iterations,
                                                           double max_imbalance);

// Counts the edges between parts (per part and in all) and orders the parts in waves.
// `parts` must have ids equal to their positions; `assignment` is indexed by slot.
// Complexity: O(V + E log E).
IndexedPartitionResult finalize_partition_result(const StableGraph& graph,
                                                 std::vector<PartitionInfo> parts,
                                                 PartAssignment assignment);

// Kahn's algorithm by waves over parts 0..n-1; each wave ascending. Repeated pairs count once;
// pairs naming a part >= n are ignored.
// Complexity: O(n + P log P) for P pairs.
std::vector<std::vector<PartId>> compute_partition_order(
    std::size_t n, std::vector<std::pair<PartId, PartId>> pairs);

// (lowest, highest) level among each part's nodes; nodes with kNoLevel (or beyond the map) are
// left out, and a part with none gives (0, 0).
std::vector<std::pair<std::size_t, std::size_t>> partition_level_range(
    const std::vector<PartitionInfo>& parts, const std::vector<std::size_t>& node_level);

}  // namespace torvex::algorithms
