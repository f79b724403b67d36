// Immediate dominators from one root, in a single pass over a topological order of what the root
// reaches.
#pragma once

#include <utility>
#include <vector>

#include "errors.hpp"
#include "graph/stable_graph.hpp"
#include "lists.hpp"
#include "types.hpp"

namespace torvex::algorithms {

// (node, its immediate dominator) for every node the root reaches; the root maps to itself.
using DominatorList = std::vector<std::pair<NodeIndex, NodeIndex>>;

// Immediate dominator of every node that `root` reaches, by Cooper-Harvey-Kennedy finger walks
// over a topological order of the reached nodes: every predecessor that matters comes first, so
// one pass settles each node for good. Nodes the root does not reach play no part.
// Returns: the pairs in no defined order; nothing for a vacant root.
// Errors: Cycle "Graph contains a cycle" when the reached nodes have no topological order.
// Complexity: O(R + E_R * h) time for the R reached nodes, the E_R edges leaving them, and
// dominator-tree height h; O(R) extra space.
Result<DominatorList> immediate_dominators(const StableGraph& graph, NodeIndex root);

}  // namespace torvex::algorithms
