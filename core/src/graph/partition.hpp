// The partition topic by name: costs keyed by node name, parts as lists of names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "algorithms/costs.hpp"
#include "algorithms/partition.hpp"
#include "graph/dag.hpp"

namespace torvex {

struct PartitionInfo {
  std::vector<std::string> node_names;  // in the order in which the nodes joined the part
  std::uint64_t partition_id = 0;
  double total_cost = 0.0;
  std::uint64_t incoming_cross_edges = 0;
  std::uint64_t outgoing_cross_edges = 0;
};

struct NamedPartitionResult {
  std::vector<PartitionInfo> partitions;
  std::vector<std::vector<std::uint64_t>> partition_order;  // waves of ascending part ids
  std::uint64_t cross_edge_count = 0;
};

// Contiguous runs of topological levels in at most k parts (0 acts as 1).
// Errors: Cycle "Graph contains a cycle".
Result<NamedPartitionResult> partition_level_based(const GraphStore& store, std::uint64_t k,
                                                   const CostMap& costs);

// Greedy parts of about total / k cost each along the level order; empty parts are dropped.
// Errors: Cycle "Graph contains a cycle".
Result<NamedPartitionResult> partition_balanced(const GraphStore& store, std::uint64_t k,
                                                const CostMap& costs);

// The level-based parts refined to cut fewer edges between neighbouring parts.
// Errors: Cycle "Graph contains a cycle".
Result<NamedPartitionResult> partition_communication_min(const GraphStore& store, std::uint64_t k,
                                                         const CostMap& costs,
                                                         std::uint64_t max_iterations,
                                                         double max_imbalance);

}  // namespace torvex
