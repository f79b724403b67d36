// The matching topic: selecting a graph's nodes by regular expression or glob over their names.
#pragma once

#include <string_view>
#include <vector>

#include "errors.hpp"
#include "graph/dag.hpp"
#include "node.hpp"

namespace torvex {

// The nodes whose name contains a match of `pattern` (an unanchored search), in index order.
// Returns: the matching nodes; any pattern on an empty graph gives none once it compiles.
// Errors: Graph "Invalid regex pattern: {}" with a description of what is wrong.
// Complexity: see algorithms::nodes_matching_regex.
Result<std::vector<NodeId>> nodes_matching_regex(const GraphStore& store, std::string_view pattern);

// The nodes whose whole name matches `glob` (`*`: any run of characters without a line feed,
// `?`: one such character, anything else literal), in index order.
// Errors: Graph "Invalid regex pattern: {}" only for a glob too long to compile.
// Complexity: as nodes_matching_regex on the translated glob.
Result<std::vector<NodeId>> nodes_matching_glob(const GraphStore& store, std::string_view glob);

}  // namespace torvex
