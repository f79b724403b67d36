#include "algorithms/paths.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "algorithms/node_set.hpp"
#include "algorithms/toposort.hpp"
#include "interrupt.hpp"
#include "types.hpp"

namespace torvex::algorithms {

namespace {

// Marks every node from which `target` can be reached, target included. Pruning the rest keeps
// the enumeration from walking dead ends, which yield no path but may be exponentially many.
NodeSet nodes_reaching(const StableGraph& graph, NodeIndex target) {
  NodeSet reaches(graph.node_bound());
  IndexList stack{target};
  reaches.insert(target);
  while (!stack.empty()) {
    interrupt::poll();
    const NodeIndex v = stack.back();
    stack.pop_back();
    graph.for_each_predecessor(v, [&](NodeIndex u) {
      if (reaches.insert(u))
        stack.push_back(u);
    });
  }
  return reaches;
}

// One node of the current path. Its useful successors, in name order, sit in a stack shared by
// all frames from `begin` to the stack's top; `next` is the next one to try.
struct PathFrame {
  std::size_t begin = 0;
  std::size_t next = 0;
};

void push_frame(const StableGraph& graph, NodeIndex n, const NodeSet& reaches, IndexList& pending,
                std::vector<PathFrame>& frames) {
  const std::size_t begin = pending.size();
  graph.for_each_successor(n, [&](NodeIndex s) {
    if (reaches.contains(s))
      pending.push_back(s);
  });
  const auto by_name = [&](NodeIndex a, NodeIndex b) {
    return name_less(graph.name(a), graph.name(b));
  };
  std::stable_sort(pending.begin() + static_cast<std::ptrdiff_t>(begin), pending.end(), by_name);
  frames.push_back({begin, begin});
}

// Walks parent links back from `target` to `source` and returns the path source first;
// link(n) gives n's parent.
template <class Link>
IndexList path_from_links(const Link& link, NodeIndex source, NodeIndex target) {
  IndexList path{target};
  for (NodeIndex c = target; c != source;) {
    c = link(c);
    path.push_back(c);
  }
  std::reverse(path.begin(), path.end());
  return path;
}

}  // namespace

std::vector<IndexList> all_paths(const StableGraph& graph, NodeIndex source, NodeIndex target,
                                 std::optional<std::size_t> limit) {
  std::vector<IndexList> results;
  // Reaching the target is recorded before any limit is consulted.
  if (source == target) {
    results.push_back({source});
    return results;
  }
  const auto limit_reached = [&] { return limit && results.size() >= *limit; };
  if (limit_reached())
    return results;
  const auto reaches = nodes_reaching(graph, target);
  if (!reaches.contains(source))
    return results;

  // Depth-first over the useful successors, in name order, so paths come out lexicographically.
  NodeSet on_path(graph.node_bound());
  IndexList path{source};
  on_path.insert(source);
  IndexList pending;
  std::vector<PathFrame> frames;
  push_frame(graph, source, reaches, pending, frames);
  while (!frames.empty() && !limit_reached()) {
    interrupt::poll();
    PathFrame& top = frames.back();
    if (top.next == pending.size()) {
      on_path.erase(path.back());
      path.pop_back();
      pending.resize(top.begin);
      frames.pop_back();
      continue;
    }
    const NodeIndex s = pending[top.next++];
    if (on_path.contains(s))
      continue;
    path.push_back(s);
    if (s == target) {
      interrupt::poll(path.size());
      results.push_back(path);
      path.pop_back();
      continue;
    }
    on_path.insert(s);
    push_frame(graph, s, reaches, pending, frames);
  }
  return results;
}

std::optional<IndexList> shortest_path(const StableGraph& graph, NodeIndex source,
                                       NodeIndex target) {
  if (source == target)
    return IndexList{source};
  // An entry marks a node as visited; the source is its own parent.
  NodeIndexMap parent(graph.node_bound());
  parent.try_emplace(source, source);
  IndexList queue{source};
  for (std::size_t head = 0; head < queue.size(); ++head) {
    interrupt::poll();
    const NodeIndex u = queue[head];
    for (EdgeIndex e = graph.first_edge(u, Direction::Outgoing); e != kEnd;
         e = graph.next_edge(e, Direction::Outgoing)) {
      const NodeIndex v = graph.edge_target(e);
      if (!parent.try_emplace(v, u))
        continue;
      // Taken on discovery, not when it leaves the queue.
      if (v == target) {
        return path_from_links([&](NodeIndex n) { return parent.find(n); }, source, target);
      }
      queue.push_back(v);
    }
  }
  return std::nullopt;
}

std::optional<CostedPath> longest_path(const StableGraph& graph, NodeIndex source, NodeIndex target,
                                       const NodeValues& costs) {
  auto order = topological_sort_kahn(graph);
  if (!order.ok())
    return std::nullopt;
  const auto start = std::find(order->begin(), order->end(), source);
  if (start == order->end())
    return std::nullopt;

  // A node has a distance when it is the source or has a predecessor: every other distance is
  // set together with its predecessor, and the source's own may be NaN or -inf.
  std::vector<double> dist(graph.node_bound(), 0.0);
  std::vector<NodeIndex> pred(graph.node_bound(), kEnd);
  const auto has_distance = [&](NodeIndex n) { return n == source || pred[n] != kEnd; };
  dist[source] = costs[source];

  constexpr double kMinusInfinity = -std::numeric_limits<double>::infinity();
  for (auto it = start; it != order->end(); ++it) {
    const NodeIndex u = *it;
    if (!has_distance(u))
      continue;
    // Every predecessor of the target comes earlier in the order: its distance is final.
    if (u == target)
      break;
    const double d = dist[u];
    graph.for_each_successor(u, [&](NodeIndex v) {
      const double candidate = d + costs[v];
      // Strict and NaN-false: the first relaxation to reach a maximum keeps it.
      if (has_distance(v) ? candidate > dist[v] : candidate > kMinusInfinity) {
        dist[v] = candidate;
        pred[v] = u;
      }
    });
  }
  if (!has_distance(target))
    return std::nullopt;
  return CostedPath{path_from_links([&](NodeIndex n) { return pred[n]; }, source, target),
                    dist[target]};
}

}  // namespace torvex::algorithms
