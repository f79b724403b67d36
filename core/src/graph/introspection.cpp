// The introspection topic: whole-graph lists, neighbours, degrees and reachability checks.
#include <algorithm>

#include "algorithms/traversal.hpp"
#include "graph/cache_access.hpp"

namespace torvex {

namespace {

IndexList live_nodes_where(const StableGraph& g, Direction empty_side) {
  IndexList out;
  for (NodeIndex n = 0; n < g.node_bound(); ++n) {
    if (g.is_live(n) && g.first_edge(n, empty_side) == kEnd)
      out.push_back(n);
  }
  return out;
}

IndexList neighbours(const StableGraph& g, NodeIndex n, Direction d) {
  IndexList out;
  g.for_each_edge(n, d, [&](NodeIndex v, EdgeIndex) { out.push_back(v); });
  return out;
}

}  // namespace

IndexList GraphStore::nodes() const {
  IndexList out;
  out.reserve(graph_.node_count());
  for (NodeIndex n = 0; n < graph_.node_bound(); ++n) {
    if (graph_.is_live(n))
      out.push_back(n);
  }
  return out;
}

std::vector<std::string> GraphStore::node_names() const {
  std::vector<std::string> out;
  out.reserve(graph_.node_count());
  for (NodeIndex n = 0; n < graph_.node_bound(); ++n) {
    if (graph_.is_live(n))
      out.emplace_back(graph_.name(n));
  }
  return out;
}

std::vector<std::pair<NodeIndex, NodeIndex>> GraphStore::edges() const {
  std::vector<std::pair<NodeIndex, NodeIndex>> out;
  out.reserve(graph_.edge_count());
  for (EdgeIndex e = 0; e < graph_.edge_bound(); ++e) {
    if (graph_.is_edge_live(e))
      out.emplace_back(graph_.edge_source(e), graph_.edge_target(e));
  }
  return out;
}

SharedIndexList GraphStore::roots() const {
  return with_cache(&DagCache::roots,
                    [&] { return live_nodes_where(graph_, Direction::Incoming); });
}

SharedIndexList GraphStore::leaves() const {
  return with_cache(&DagCache::leaves,
                    [&] { return live_nodes_where(graph_, Direction::Outgoing); });
}

Result<IndexList> GraphStore::successors(std::string_view name) const {
  TORVEX_TRY(n, resolve_name(name));
  return neighbours(graph_, n, Direction::Outgoing);
}

Result<IndexList> GraphStore::predecessors(std::string_view name) const {
  TORVEX_TRY(n, resolve_name(name));
  return neighbours(graph_, n, Direction::Incoming);
}

Result<std::size_t> GraphStore::out_degree(std::string_view name) const {
  TORVEX_TRY(n, resolve_name(name));
  return graph_.degree(n, Direction::Outgoing);
}

Result<std::size_t> GraphStore::in_degree(std::string_view name) const {
  TORVEX_TRY(n, resolve_name(name));
  return graph_.degree(n, Direction::Incoming);
}

Result<bool> GraphStore::is_ancestor(std::string_view ancestor, std::string_view descendant) const {
  TORVEX_TRY(a, resolve_name(ancestor));
  TORVEX_TRY(d, resolve_name(descendant));
  if (a == d)
    return true;
  return algorithms::is_reachable(graph_, d, a, Direction::Incoming);
}

}  // namespace torvex
