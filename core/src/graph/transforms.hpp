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
// (root, root) included, ascending by node name. Orders only the nodes the root reaches; the
// cache is neither read nor filled.
// Errors: NodeNotFound with the root name; Graph with the order's text should it fail.
// Complexity: O(R + E_R * h) for the R reached nodes, their edges and dominator-tree height h,
// plus sorting the result; nothing in proportion to the rest of the graph.
Result<std::vector<std::pair<std::string, std::string>>> dominator_tree(const GraphStore& store,
                                                                        std::string_view root);

}  // namespace torvex
