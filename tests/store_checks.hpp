// Checkers of the store shared by the core suite and the fuzz targets: each trusts nothing but
// the slots and returns what it found wrong first, or nothing.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "graph/dag.hpp"

namespace torvex::checks {

// The store agrees with its own slots: every live name is indexed to its slot, every live edge
// sits exactly once in its source's outgoing list and once in its target's incoming list, the
// counts match, epochs are distinct and issued, and the live nodes admit a full topological
// order (so the graph is acyclic).
inline std::optional<std::string> store_fault(const GraphStore& store) {
  const StableGraph& g = store.graph();
  const std::size_t edge_bound = g.edge_bound();
  std::vector<std::uint8_t> in_out_list(edge_bound, 0), in_in_list(edge_bound, 0);
  std::vector<std::size_t> in_degree(g.node_bound(), 0);
  std::vector<std::uint64_t> epochs;
  std::size_t live = 0;
  for (NodeIndex n = 0; n < g.node_bound(); ++n) {
    if (!g.is_live(n))
      continue;
    ++live;
    const std::string name(g.name(n));
    auto found = store.find(name);
    if (!found || *found != n)
      return "name index disagrees with the slot of " + name;
    if (store.epoch(n) >= store.next_epoch())
      return "epoch never issued: " + name;
    epochs.push_back(store.epoch(n));
    for (const Direction d : {Direction::Outgoing, Direction::Incoming}) {
      const bool outgoing = d == Direction::Outgoing;
      std::size_t steps = 0;
      for (EdgeIndex e = g.first_edge(n, d); e != kEnd; e = g.next_edge(e, d)) {
        if (++steps > edge_bound || !g.is_edge_live(e))
          return "neighbour list of " + name + " loops or holds a vacant edge";
        if ((outgoing ? g.edge_source(e) : g.edge_target(e)) != n)
          return "edge in the wrong list of " + name;
        ++(outgoing ? in_out_list : in_in_list)[e];
        in_degree[n] += !outgoing;
      }
      if (steps != g.degree(n, d))
        return "degree disagrees with the list of " + name;
    }
  }
  std::size_t live_edges = 0;
  for (EdgeIndex e = 0; e < edge_bound; ++e) {
    const bool is_live = g.is_edge_live(e);
    live_edges += is_live;
    if (!is_live && (in_out_list[e] || in_in_list[e]))
      return "vacant edge still linked";
    if (is_live && (!g.is_live(g.edge_source(e)) || !g.is_live(g.edge_target(e))))
      return "edge to a vacant slot";
    if (is_live && (in_out_list[e] != 1 || in_in_list[e] != 1))
      return "edge not linked exactly once";
  }
  if (live != g.node_count() || live_edges != g.edge_count())
    return "live counts disagree";
  std::sort(epochs.begin(), epochs.end());
  if (std::adjacent_find(epochs.begin(), epochs.end()) != epochs.end())
    return "repeated epoch";
  // Kahn's algorithm over the slots: every live node must come out.
  std::vector<NodeIndex> ready;
  for (NodeIndex n = 0; n < g.node_bound(); ++n) {
    if (g.is_live(n) && in_degree[n] == 0)
      ready.push_back(n);
  }
  std::size_t emitted = 0;
  while (!ready.empty()) {
    const NodeIndex u = ready.back();
    ready.pop_back();
    ++emitted;
    g.for_each_successor(u, [&](NodeIndex v) {
      if (--in_degree[v] == 0)
        ready.push_back(v);
    });
  }
  if (emitted != live)
    return "the graph holds a cycle";
  return std::nullopt;
}

// Every edge runs forward in `order`, which holds each live node exactly once.
inline std::optional<std::string> topo_order_fault(const StableGraph& g, const IndexList& order) {
  std::vector<std::size_t> position(g.node_bound(), SIZE_MAX);
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (!g.is_live(order[i]) || position[order[i]] != SIZE_MAX)
      return "a vacant slot or a repeated node";
    position[order[i]] = i;
  }
  if (order.size() != g.node_count())
    return "missing nodes";
  for (EdgeIndex e = 0; e < g.edge_bound(); ++e) {
    if (g.is_edge_live(e) && position[g.edge_source(e)] >= position[g.edge_target(e)]) {
      return "edge " + std::string(g.name(g.edge_source(e))) + " -> " +
             std::string(g.name(g.edge_target(e))) + " runs backwards";
    }
  }
  return std::nullopt;
}

}  // namespace torvex::checks
