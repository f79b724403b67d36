#include "algorithms/priority_toposort.hpp"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "algorithms/toposort.hpp"

namespace torvex::algorithms {

namespace {

struct ReadyEntry {
  std::int64_t priority;  // total_order_key of the node's priority
  std::string_view name;  // the graph is not changed while an order is computed
  NodeIndex node;
};

// Heap order: the greatest entry has the highest priority, then the smallest name, then the
// larger index (names are unique, so the index never decides).
bool heap_less(const ReadyEntry& a, const ReadyEntry& b) noexcept {
  if (a.priority != b.priority)
    return a.priority < b.priority;
  if (a.name != b.name)
    return name_less(b.name, a.name);
  return a.node < b.node;
}

}  // namespace

Result<IndexList> topological_sort_priority(const StableGraph& graph,
                                            const NodeValues& priorities) {
  // Build the in-degree of every live slot.
  std::vector<std::uint64_t> degree(graph.node_bound(), 0);
  for (NodeIndex n = 0; n < graph.node_bound(); ++n) {
    if (graph.is_live(n))
      graph.for_each_successor(n, [&](NodeIndex v) { ++degree[v]; });
  }
  std::vector<ReadyEntry> heap;
  auto push = [&](NodeIndex n) {
    heap.push_back({total_order_key(priorities[n]), graph.name(n), n});
    std::push_heap(heap.begin(), heap.end(), heap_less);
  };
  for (NodeIndex n = 0; n < graph.node_bound(); ++n) {
    if (graph.is_live(n) && degree[n] == 0)
      push(n);
  }

  // Drain the heap; a node becomes ready when its last incoming edge is taken away.
  IndexList order;
  order.reserve(graph.node_count());
  while (!heap.empty()) {
    std::pop_heap(heap.begin(), heap.end(), heap_less);
    const NodeIndex u = heap.back().node;
    heap.pop_back();
    order.push_back(u);
    graph.for_each_successor(u, [&](NodeIndex v) {
      if (--degree[v] == 0)
        push(v);
    });
  }
  if (order.size() != graph.node_count())
    return TorvexError::cycle(kGraphHasCycle);
  return order;
}

Result<Levels> topological_levels_priority(const StableGraph& graph, const NodeValues& priorities) {
  TORVEX_TRY(levels, topological_levels(graph));
  // Levels are already in name order, so a stable sort by priority alone leaves equal
  // priorities in name order.
  for (IndexList& level : levels) {
    std::stable_sort(level.begin(), level.end(), [&](NodeIndex a, NodeIndex b) {
      return total_order_key(priorities[a]) > total_order_key(priorities[b]);
    });
  }
  return levels;
}

}  // namespace torvex::algorithms
