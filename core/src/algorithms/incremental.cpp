#include "algorithms/incremental.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace torvex::algorithms {
namespace {

// Slots needed to mark every node of the graph and every index in `changed`.
std::size_t mark_size(const StableGraph& graph, std::span<const NodeIndex> changed) {
  std::size_t size = graph.node_bound();
  for (NodeIndex c : changed)
    size = std::max<std::size_t>(size, std::size_t{c} + 1);
  return size;
}

// Breadth-first search forward from the changed nodes; `dirty` receives discovery marks.
IndexList forward_closure(const StableGraph& graph, std::span<const NodeIndex> changed,
                          std::vector<char>& dirty) {
  IndexList order;
  for (NodeIndex c : changed) {
    if (!dirty[c]) {
      dirty[c] = 1;
      order.push_back(c);
    }
  }
  // The output doubles as the queue.
  for (std::size_t head = 0; head < order.size(); ++head) {
    const NodeIndex u = order[head];
    if (u >= graph.node_bound())
      continue;
    graph.for_each_successor(u, [&](NodeIndex v) {
      if (!dirty[v]) {
        dirty[v] = 1;
        order.push_back(v);
      }
    });
  }
  return order;
}

}  // namespace

IndexList dirty_set(const StableGraph& graph, std::span<const NodeIndex> changed) {
  std::vector<char> dirty(mark_size(graph, changed), 0);
  return forward_closure(graph, changed, dirty);
}

std::vector<Provenance> change_provenance(const StableGraph& graph,
                                          std::span<const NodeIndex> changed) {
  const std::size_t size = mark_size(graph, changed);
  std::vector<char> dirty(size, 0);
  const IndexList dirty_nodes = forward_closure(graph, changed, dirty);

  std::vector<char> is_changed(size, 0);
  std::size_t changed_count = 0;
  for (NodeIndex c : changed) {
    if (!is_changed[c]) {
      is_changed[c] = 1;
      ++changed_count;
    }
  }

  std::vector<Provenance> out;
  out.reserve(dirty_nodes.size());
  if (changed_count == 1) {
    // Every dirty node descends from the one changed node: nothing to search for.
    for (NodeIndex d : dirty_nodes)
      out.push_back({d, IndexList{changed.front()}});
    return out;
  }
  std::vector<std::uint32_t> seen(size, 0);  // stamp of the search that saw the node
  IndexList queue;
  std::uint32_t stamp = 0;
  for (NodeIndex d : dirty_nodes) {
    // One backward search per dirty node. Non-dirty ancestors are skipped: none of them or
    // of their ancestors changed, and leaving them out keeps the dirty nodes' queue order.
    ++stamp;
    IndexList sources;
    if (is_changed[d])
      sources.push_back(d);
    seen[d] = stamp;
    queue.clear();
    queue.push_back(d);
    for (std::size_t head = 0; head < queue.size() && sources.size() < changed_count; ++head) {
      const NodeIndex u = queue[head];
      if (u >= graph.node_bound())
        continue;
      graph.for_each_predecessor(u, [&](NodeIndex s) {
        if (!dirty[s] || seen[s] == stamp)
          return;
        seen[s] = stamp;
        queue.push_back(s);
        // First in, first out: discovery order is the order of leaving the queue.
        if (is_changed[s])
          sources.push_back(s);
      });
    }
    out.push_back({d, std::move(sources)});
  }
  return out;
}

}  // namespace torvex::algorithms
