// Sequence parameters of node arguments (`changed`, `nodes`): any Python sequence but a str.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "framework/framework.hpp"
#include "node_objects.hpp"

namespace torvex::binding {

// The items of a sequence parameter, each a str or a NodeRef. A str is refused ("Can't extract
// `str` to `Vec`"), so is a non-sequence ("'{}' object cannot be converted to 'Sequence'") and
// any other item; every such TypeError carries the "argument '{}': {}" prefix.
std::optional<std::vector<NodeArg>> node_args(PyObject* obj, const char* param);

// Copies of the names to hand the core, NodeRefs checked against the graph in sequence order
// (NodeNotFoundError / StaleNodeRefError for the first bad one). Nothing, with the error set,
// on failure.
std::optional<std::vector<std::string>> arg_names(const std::vector<NodeArg>& args,
                                                  const GraphStore& graph);

}  // namespace torvex::binding
