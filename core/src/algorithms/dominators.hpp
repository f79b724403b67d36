// Immediate dominators from one root, in a single pass over a topological order.
#pragma once

#include <cstddef>
#include <vector>

#include "graph/cache.hpp"
#include "graph/stable_graph.hpp"
#include "types.hpp"

namespace torvex::algorithms {

// Indexed by node slot: the node's immediate dominator, kEnd when the root does not reach it.
// The root maps to itself.
using DominatorMap = std::vector<NodeIndex>;

// Immediate dominator of every node that `root` reaches, by Cooper-Harvey-Kennedy finger walks.
// `order` must be a topological order holding every live node once (the Kahn order); because
// every predecessor comes first, one pass settles each node for good.
// Returns: a map of graph.node_bound() entries; nodes before the root in `order` have none.
// Complexity: O(V + E * h) time for dominator-tree height h, O(V) extra space.
DominatorMap immediate_dominators(const StableGraph& graph, NodeIndex root, const IndexList& order);

// The nearest common dominator of a and b; both must have an entry in `idom`, and `position`
// gives each node's place in the order the map was built from.
// Complexity: O(height of the dominator tree).
NodeIndex intersect(const DominatorMap& idom, const std::vector<std::size_t>& position, NodeIndex a,
                    NodeIndex b);

}  // namespace torvex::algorithms
