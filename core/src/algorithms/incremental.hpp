// What to recompute after a change: the dirty set, and which changed nodes each dirty node
// depends on.
#pragma once

#include <span>
#include <utility>
#include <vector>

#include "graph/stable_graph.hpp"
#include "lists.hpp"
#include "types.hpp"

namespace torvex::algorithms {

// The changed nodes and all their descendants, each once. Repeats in `changed` are harmless;
// a vacant index is reported but has no edges to follow.
// Returns: the nodes in breadth-first discovery order (callers may rely on no order).
// Complexity: O(V + E).
IndexList dirty_set(const StableGraph& graph, std::span<const NodeIndex> changed);

// A dirty node and its provenance: itself first when it changed, then its changed proper
// ancestors, nearer ones first; at equal distance in discovery order (incoming lists newest
// edge first, first in first out across nodes).
struct Provenance {
  NodeIndex node;
  IndexList sources;
};

// One entry per dirty node, in the order of dirty_set; every list is non-empty.
// Complexity: O(E_D * K + D * K log K) time and O(D * K) space for D dirty nodes, E_D edges
// among them and K changed nodes: each list follows from the predecessors' lists (an ancestor
// outside the dirty set has no changed ancestor), so the result equals one backward search per
// dirty node without any search.
std::vector<Provenance> change_provenance(const StableGraph& graph,
                                          std::span<const NodeIndex> changed);

}  // namespace torvex::algorithms
