// NodeId and NodeRef objects, and node arguments (a str name or a NodeRef).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "framework/framework.hpp"
#include "graph/dag.hpp"
#include "node.hpp"

namespace torvex::binding {

// --- NodeId: a name and the slot index it had when a list was made --------------------------
struct NodeIdValue {
  py::Ref name;  // exact str
  NodeIndex index = 0;
};
struct PyNodeId {
  using Value = NodeIdValue;
  static constexpr bool kFrozen = true;
  static constexpr const char* kName = "NodeId";
};

// New NodeId objects (null with an error set on failure).
py::Ref make_node_id(std::string_view name, NodeIndex index);
py::Ref make_node_id(const NodeId& id);
// A list of NodeId for live slots of `graph`, names read from the slots.
py::Ref node_id_list(const StableGraph& graph, const IndexList& indices);
py::Ref node_id_list(const std::vector<NodeId>& ids);
// A list of lists of NodeId.
py::Ref node_id_levels(const StableGraph& graph, const Levels& levels);

// --- NodeRef: a name and the epoch under which its node was added ---------------------------
struct NodeRefValue {
  py::Ref name;  // exact str
  std::uint64_t epoch = 0;
};
struct PyNodeRef {
  using Value = NodeRefValue;
  static constexpr bool kFrozen = true;
  static constexpr const char* kName = "NodeRef";
};

py::Ref make_node_ref(py::Ref name, std::uint64_t epoch);
py::Ref make_node_ref(const NodeHandle& handle);

// --- node arguments --------------------------------------------------------------------------
// A str (or subclass) taken as a name, or a NodeRef still to be checked against the graph.
struct NodeArg {
  py::Ref text;                        // keeps `name` alive
  std::string_view name;               // UTF-8
  std::optional<std::uint64_t> epoch;  // set for a NodeRef

  bool is_ref() const noexcept { return epoch.has_value(); }
};

// Extracts a node argument without a parameter prefix: TypeError
// "expected str or NodeRef for node identifier" for any other type.
std::optional<NodeArg> extract_node_arg(PyObject* obj);
// The same for a named parameter (with the "argument '{}': {}" prefix).
std::optional<NodeArg> node_arg(PyObject* obj, const char* param);

// The name to hand the core: a str as it is (existence is the core's business); a NodeRef only
// when its name is live under the same epoch (NodeNotFound / StaleNodeRef otherwise).
Result<std::string_view> into_name(const NodeArg& arg, const GraphStore& graph);

// A node parameter converted and checked against the graph (into_name); its `name` is then
// what the core receives. Nothing, with the exception set, on any failure.
std::optional<NodeArg> named_node(PyObject* obj, const char* param, const GraphStore& graph);

// The shortest-form quoted text of a name used by the reprs: escapes, and \u{..} for
// grapheme extenders and characters that are not printable.
std::string quoted(std::string_view name);

}  // namespace torvex::binding
