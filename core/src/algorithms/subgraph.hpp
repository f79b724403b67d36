// Nodes within a number of hops of a start node.
#pragma once

#include <cstdint>

#include "graph/stable_graph.hpp"
#include "lists.hpp"
#include "types.hpp"

namespace torvex::algorithms {

// Which edges a hop may follow: 0 outgoing, 1 incoming, any other value both (outgoing first).
using NeighborhoodDirection = std::uint8_t;
inline constexpr NeighborhoodDirection kNeighborhoodForward = 0;
inline constexpr NeighborhoodDirection kNeighborhoodBackward = 1;
inline constexpr NeighborhoodDirection kNeighborhoodBoth = 2;

// `start` and every node at most `max_depth` hops from it; with both directions a path may turn
// at every node, so siblings are two hops apart. A vacant `start` yields itself alone.
// Returns: the nodes, each once, in breadth-first discovery order (callers may rely on no order).
// Complexity: O(V + E) at most; only the nodes within reach and their edges are touched.
IndexList depth_neighborhood(const StableGraph& graph, NodeIndex start, std::uint64_t max_depth,
                             NeighborhoodDirection direction);

}  // namespace torvex::algorithms
