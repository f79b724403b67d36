#include "algorithms/traversal.hpp"

#include <vector>

namespace torvex::algorithms {

IndexList bfs_directed(const StableGraph& graph, NodeIndex start, Direction d) {
  IndexList order;
  if (!graph.is_live(start)) return order;
  std::vector<bool> visited(graph.node_bound(), false);
  visited[start] = true;
  // `order` doubles as the queue: nodes are appended when discovered and popped in that order.
  auto discover = [&](NodeIndex u) {
    graph.for_each_edge(u, d, [&](NodeIndex v, EdgeIndex) {
      if (!visited[v]) {
        visited[v] = true;
        order.push_back(v);
      }
    });
  };
  discover(start);
  for (std::size_t head = 0; head < order.size(); ++head) discover(order[head]);
  return order;
}

}  // namespace torvex::algorithms
