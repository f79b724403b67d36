#include "graph/flat_successors.hpp"

#include <algorithm>
#include <cstring>

namespace torvex {

FlatSuccessors::FlatSuccessors(const StableGraph& graph)
    : start_(std::size_t{graph.node_bound()} + 1, 0), in_degree_(graph.node_bound(), 0) {
  // Count, then place: each edge's target goes into its source's range.
  for (EdgeIndex e = 0; e < graph.edge_bound(); ++e) {
    if (!graph.is_edge_live(e))
      continue;
    ++start_[graph.edge_source(e) + 1];
    ++in_degree_[graph.edge_target(e)];
  }
  for (std::size_t n = 1; n < start_.size(); ++n)
    start_[n] += start_[n - 1];
  targets_.resize(start_.back());
  // start_[n] serves as n's write position, then is shifted back into place.
  for (EdgeIndex e = 0; e < graph.edge_bound(); ++e) {
    if (graph.is_edge_live(e))
      targets_[start_[graph.edge_source(e)]++] = graph.edge_target(e);
  }
  for (std::size_t n = start_.size() - 1; n > 0; --n)
    start_[n] = start_[n - 1];
  start_[0] = 0;
}

std::uint64_t name_prefix(std::string_view name) noexcept {
  unsigned char bytes[8] = {};
  std::memcpy(bytes, name.data(), std::min<std::size_t>(sizeof bytes, name.size()));
  std::uint64_t key = 0;
  for (unsigned char byte : bytes)
    key = (key << 8) | byte;
  return key;
}

NamePrefixes name_prefixes(const StableGraph& graph) {
  NamePrefixes out(graph.node_bound(), 0);
  for (NodeIndex n = 0; n < graph.node_bound(); ++n) {
    if (graph.is_live(n))
      out[n] = name_prefix(graph.name(n));
  }
  return out;
}

std::vector<NodeIndex> any_topological_order(const StableGraph& graph, const FlatSuccessors& flat) {
  std::vector<std::uint32_t> degree = flat.in_degree();
  std::vector<NodeIndex> order;
  order.reserve(graph.node_count());
  for (NodeIndex n = 0; n < graph.node_bound(); ++n) {
    if (graph.is_live(n) && degree[n] == 0)
      order.push_back(n);
  }
  for (std::size_t head = 0; head < order.size(); ++head) {
    for (const NodeIndex* v = flat.begin(order[head]); v != flat.end(order[head]); ++v) {
      if (--degree[*v] == 0)
        order.push_back(*v);
    }
  }
  return order;
}

}  // namespace torvex
