// Structural comparison of two graphs by node name and by (source name, target name) pair.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "graph/stable_graph.hpp"
#include "types.hpp"

namespace torvex::algorithms {

using NamePair = std::pair<std::string, std::string>;

// Six sorted lists without duplicates: names by name order, pairs by source name, then target.
// Payloads, weights, labels, indices and edge multiplicity play no part; the two slot lists let
// a caller compare what the structure ignores.
struct StructuralDiff {
  std::vector<std::string> nodes_only_in_a;
  std::vector<std::string> nodes_only_in_b;
  std::vector<std::string> nodes_in_both;
  std::vector<NamePair> edges_only_in_a;
  std::vector<NamePair> edges_only_in_b;
  std::vector<NamePair> edges_in_both;
  // Parallel to nodes_in_both: the node's slot in a and in b.
  std::vector<std::pair<NodeIndex, NodeIndex>> nodes_in_both_slots;
  // Parallel to edges_in_both: the pair's most recently added edge in a and in b.
  std::vector<std::pair<EdgeIndex, EdgeIndex>> edges_in_both_slots;
};

// Compares a with b (either may be the other). Only reads both graphs.
// Complexity: O(V log V + E log E) time for both graphs together (the sorts), O(V + E) space.
StructuralDiff structural_diff(const StableGraph& a, const StableGraph& b);

}  // namespace torvex::algorithms
