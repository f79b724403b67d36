// NodeId and NodeRef objects, and node arguments (a str name or a NodeRef).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/framework.hpp"
#include "graph/dag.hpp"
#include "node.hpp"
#include "siphash.hpp"

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
  py::Ref text;                        // keeps `name` alive (a str, or bytes: see lookup_name)
  std::string_view name;               // UTF-8, unless no node can have it
  std::optional<std::uint64_t> epoch;  // set for a NodeRef

  bool is_ref() const noexcept { return epoch.has_value(); }
};

// The bytes of a str (or subclass) to look a node up by: its UTF-8 text, or, for text without a
// UTF-8 form (a lone surrogate), bytes that are not UTF-8 and so match no node; `keep` then
// holds them. Nothing, with the error set, when CPython fails otherwise.
std::optional<std::string_view> lookup_name(PyObject* text, py::Ref& keep);

// Extracts a node argument without a parameter prefix: TypeError
// "expected str or NodeRef for node identifier" for any other type. A str without UTF-8 form
// is a name no node has (lookup_name). An error of a str subclass's __str__ that is no
// Exception (KeyboardInterrupt, SystemExit) throws interrupt::Interrupted with it pending.
std::optional<NodeArg> extract_node_arg(PyObject* obj);
// The same for a named parameter (with the "argument '{}': {}" prefix).
std::optional<NodeArg> node_arg(PyObject* obj, const char* param);
// Whether extract_node_arg(obj) runs Python code: a str subclass whose __str__ is written in
// Python. Runs none itself.
bool naming_runs_python(PyObject* obj);

// The name to hand the core: a str as it is (existence is the core's business); a NodeRef only
// when its name is live under the same epoch (NodeNotFound / StaleNodeRef otherwise).
Result<std::string_view> into_name(const NodeArg& arg, const GraphStore& graph);

// A node parameter converted and checked against the graph (into_name); its `name` is then
// what the core receives. Nothing, with the exception set, on any failure.
std::optional<NodeArg> named_node(PyObject* obj, const char* param, const GraphStore& graph);

// Two node parameters: both extracted in parameter order, then both checked against the graph
// in the same order, so a wrong type is reported before a stale or missing handle.
struct NodePair {
  NodeArg first;
  NodeArg second;
};
std::optional<NodePair> named_nodes(PyObject* const (&objs)[2], const char* first_param,
                                    const char* second_param, const GraphStore& graph);

// The shortest-form quoted text of a name used by the reprs: escapes, and \u{..} for
// grapheme extenders and characters that are not printable.
std::string quoted(std::string_view name);

// The members NodeId and NodeRef share: a name and one number (Number, shown as Field), equal
// when both are, and hashed with SipHash-1-3 (zero keys) over the number's little-endian bytes
// and the name's UTF-8 bytes closed by 0xFF, the number first when NumberFirst.
template <class C, auto Number, const char* Field, bool NumberFirst>
struct NameAndNumber {
  static PyObject* name(PyObject* self) { return py::new_ref(py::value_of<C>(self).name.get()); }
  static PyObject* number(PyObject* self) {
    return py::integer(py::value_of<C>(self).*Number).release();
  }
  // "{class}(name={quoted name}, {field}={number})"
  static PyObject* repr(PyObject* self) {
    const auto& value = py::value_of<C>(self);
    auto text = py::utf8(value.name.get());
    if (!text)
      return nullptr;
    return py::str(std::string(C::kName) + "(name=" + quoted(*text) + ", " + Field + "=" +
                   std::to_string(value.*Number) + ")")
        .release();
  }
  // Only == and != with another instance of C; everything else is NotImplemented.
  static PyObject* richcompare(PyObject* self, PyObject* other, int op) {
    if ((op != Py_EQ && op != Py_NE) || !py::is_instance<C>(other))
      return py::not_implemented();
    const auto& a = py::value_of<C>(self);
    const auto& b = py::value_of<C>(other);
    bool equal = a.*Number == b.*Number;
    if (equal) {
      const int same = PyObject_RichCompareBool(a.name.get(), b.name.get(), Py_EQ);
      if (same < 0)
        return nullptr;
      equal = same == 1;
    }
    return py::boolean(op == Py_EQ ? equal : !equal);
  }
  // Fixed across processes; never -1.
  static Py_hash_t hash(PyObject* self) {
    const auto& value = py::value_of<C>(self);
    auto text = py::utf8(value.name.get());
    if (!text)
      return -1;
    const auto number = value.*Number;
    SipHasher13 hasher;
    if constexpr (NumberFirst)
      hasher.write_le(number, sizeof number);
    hasher.write(*text);
    hasher.write_byte(0xFF);
    if constexpr (!NumberFirst)
      hasher.write_le(number, sizeof number);
    return static_cast<Py_hash_t>(python_hash(hasher.finish()));
  }
};

}  // namespace torvex::binding
