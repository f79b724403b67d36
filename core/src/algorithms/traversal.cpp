#include "algorithms/traversal.hpp"

#include "algorithms/node_set.hpp"

namespace torvex::algorithms {

IndexList bfs_directed(const StableGraph& graph, NodeIndex start, Direction d) {
  IndexList order;
  if (!graph.is_live(start))
    return order;
  NodeSet visited(graph.node_bound());
  visited.insert(start);
  // `order` doubles as the queue: nodes are appended when discovered and popped in that order.
  auto discover = [&](NodeIndex u) {
    graph.for_each_edge(u, d, [&](NodeIndex v, EdgeIndex) {
      if (visited.insert(v))
        order.push_back(v);
    });
  };
  discover(start);
  for (std::size_t head = 0; head < order.size(); ++head)
    discover(order[head]);
  return order;
}

bool is_reachable(const StableGraph& graph, NodeIndex start, NodeIndex goal, Direction d) {
  if (!graph.is_live(start))
    return false;
  NodeSet visited(graph.node_bound());
  visited.insert(start);
  IndexList stack{start};
  while (!stack.empty()) {
    const NodeIndex u = stack.back();
    stack.pop_back();
    for (EdgeIndex e = graph.first_edge(u, d); e != kEnd; e = graph.next_edge(e, d)) {
      const NodeIndex v = d == Direction::Outgoing ? graph.edge_target(e) : graph.edge_source(e);
      if (v == goal)
        return true;
      if (visited.insert(v))
        stack.push_back(v);
    }
  }
  return false;
}

}  // namespace torvex::algorithms
