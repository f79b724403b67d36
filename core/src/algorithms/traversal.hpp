// Breadth-first traversal by edge direction.
#pragma once

#include "graph/cache.hpp"
#include "graph/stable_graph.hpp"

namespace torvex::algorithms {

// Every node reachable from `start` in direction d, in discovery order (neighbours newest edge
// first, level by level), each once, `start` excluded. A vacant `start` yields nothing.
// Complexity: O(reachable nodes + their edges in direction d).
IndexList bfs_directed(const StableGraph& graph, NodeIndex start, Direction d);

}  // namespace torvex::algorithms
