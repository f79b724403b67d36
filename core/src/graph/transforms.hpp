// The transforms topic: the dominator tree by name. Closure and reduction take no names; their
// analyses are algorithms::transitive_closure_new_edges and transitive_reduction_redundant_edges.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "errors.hpp"
#include "graph/dag.hpp"

namespace torvex {

// (node, immediate dominator) for every node that `root` reaches, the root's own pair
// (root, root) included, ascending by node name. Computes a fresh Kahn order; the cache is
// neither read nor filled.
// Errors: NodeNotFound with the root name; Graph with the order's text should it fail.
// Complexity: O(V + E * h) for dominator-tree height h, plus sorting the result.
Result<std::vector<std::pair<std::string, std::string>>> dominator_tree(const GraphStore& store,
                                                                        std::string_view root);

}  // namespace torvex
