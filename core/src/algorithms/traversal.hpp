// Breadth-first traversal by edge direction.
#pragma once

#include "graph/stable_graph.hpp"
#include "lists.hpp"

namespace torvex::algorithms {

// Every node reachable from `start` in direction d, in discovery order (neighbours newest edge
// first, level by level), each once, `start` excluded. A vacant `start` yields nothing.
// Complexity: O(reachable nodes + their edges in direction d).
IndexList bfs_directed(const StableGraph& graph, NodeIndex start, Direction d);

// Whether `goal` is found from `start` in direction d along one or more edges; false for a
// vacant `start`. Stops at the goal. Complexity: O(nodes and edges visited before it).
bool is_reachable(const StableGraph& graph, NodeIndex start, NodeIndex goal, Direction d);

}  // namespace torvex::algorithms
