#include "graph/stats.hpp"

#include <algorithm>
#include <vector>

#include "algorithms/toposort.hpp"
#include "interrupt.hpp"

namespace torvex {

std::uint64_t count_weak_components(const StableGraph& graph) {
  std::vector<char> visited(graph.node_bound(), 0);
  IndexList queue;
  std::uint64_t count = 0;
  std::size_t steps = 0;
  for (NodeIndex s = 0; s < graph.node_bound(); ++s) {
    if (!graph.is_live(s) || visited[s])
      continue;
    ++count;
    visited[s] = 1;
    queue.assign(1, s);
    auto visit = [&](NodeIndex v) {
      if (!visited[v]) {
        visited[v] = 1;
        queue.push_back(v);
      }
    };
    // Only membership matters, so the queue is drained from the back.
    while (!queue.empty()) {
      interrupt::poll_at(++steps);
      const NodeIndex u = queue.back();
      queue.pop_back();
      graph.for_each_successor(u, visit);
      graph.for_each_predecessor(u, visit);
    }
  }
  return count;
}

Result<GraphStatsResult> stats(const GraphStore& store) {
  const StableGraph& graph = store.graph();
  GraphStatsResult out;
  out.node_count = graph.node_count();
  out.edge_count = graph.edge_count();
  if (out.node_count == 0)
    return out;

  // Shape of the levels. With every node costing 1.0 the critical path holds one node per
  // level, so the longest path has depth - 1 edges and needs no search of its own.
  TORVEX_TRY(levels, algorithms::topological_levels(graph));
  out.depth = levels.size();
  for (const IndexList& level : levels)
    out.width = std::max<std::uint64_t>(out.width, level.size());
  out.longest_path_length = out.depth == 0 ? 0 : out.depth - 1;

  // Degrees, parallel edges counted each.
  for (NodeIndex n = 0; n < graph.node_bound(); ++n) {
    interrupt::poll_at(n);
    if (!graph.is_live(n))
      continue;
    const std::uint64_t in = graph.degree(n, Direction::Incoming);
    const std::uint64_t out_degree = graph.degree(n, Direction::Outgoing);
    out.max_in_degree = std::max(out.max_in_degree, in);
    out.max_out_degree = std::max(out.max_out_degree, out_degree);
    out.root_count += in == 0;
    out.leaf_count += out_degree == 0;
  }

  const std::uint64_t pairs = out.node_count * (out.node_count - 1);
  const auto m = static_cast<double>(out.edge_count);
  out.density = pairs == 0 ? 0.0 : m / static_cast<double>(pairs);
  out.avg_in_degree = out.avg_out_degree = m / static_cast<double>(out.node_count);

  out.component_count = count_weak_components(graph);
  out.is_weakly_connected = out.component_count < 2;
  return out;
}

}  // namespace torvex
