// The partition topic: the three strategies by name.
#include "graph/partition.hpp"

#include <utility>

namespace torvex {

namespace {

Result<NamedPartitionResult> to_names(const GraphStore& store,
                                      Result<algorithms::IndexedPartitionResult> found) {
  TORVEX_TRY(result, std::move(found));
  const StableGraph& graph = store.graph();
  NamedPartitionResult out;
  out.partitions.reserve(result.partitions.size());
  for (const algorithms::PartitionInfo& part : result.partitions) {
    PartitionInfo named;
    named.node_names.reserve(part.nodes.size());
    for (NodeIndex n : part.nodes)
      named.node_names.emplace_back(graph.name(n));
    named.partition_id = part.partition_id;
    named.total_cost = part.total_cost;
    named.incoming_cross_edges = part.incoming_cross_edges;
    named.outgoing_cross_edges = part.outgoing_cross_edges;
    out.partitions.push_back(std::move(named));
  }
  out.partition_order = std::move(result.partition_order);
  out.cross_edge_count = result.cross_edge_count;
  return out;
}

}  // namespace

Result<NamedPartitionResult> partition_level_based(const GraphStore& store, std::uint64_t k,
                                                   const CostMap& costs) {
  return to_names(
      store, algorithms::partition_level_based(store.graph(), k, names_to_indices(store, costs)));
}

Result<NamedPartitionResult> partition_balanced(const GraphStore& store, std::uint64_t k,
                                                const CostMap& costs) {
  return to_names(store,
                  algorithms::partition_balanced(store.graph(), k, names_to_indices(store, costs)));
}

Result<NamedPartitionResult> partition_communication_min(const GraphStore& store, std::uint64_t k,
                                                         const CostMap& costs,
                                                         std::uint64_t max_iterations,
                                                         double max_imbalance) {
  return to_names(
      store, algorithms::partition_communication_min(
                 store.graph(), k, names_to_indices(store, costs), max_iterations, max_imbalance));
}

}  // namespace torvex
