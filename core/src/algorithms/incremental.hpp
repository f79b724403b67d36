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
// Complexity: O(D * (D + E_D)) for D dirty nodes and E_D edges among them: an ancestor outside
// the dirty set has no changed ancestor, so each backward search stays inside the dirty set,
// and it stops once every changed node has been found. A single changed node needs no search.
std::vector<Provenance> change_provenance(const StableGraph& graph,
                                          std::span<const NodeIndex> changed);

}  // namespace torvex::algorithms
