// The NodeId class and the quoted form of names.
//
//   class NodeId:          # frozen; made by the graph's listing methods only
//       name: str          # read-only
//       index: int         # read-only; the slot index when the list was made
//       def __repr__(self): return f"NodeId(name={quoted(name)}, index={index})"
//       def __str__(self): return self.name
//       def __eq__(self, other): ...  # same class, same index and name
//       def __hash__(self): ...       # SipHash-1-3 of (index, name), fixed across processes
#include <algorithm>
#include <string>
#include <string_view>

#include "interrupt.hpp"
#include "node_objects.hpp"
#include "unicode_tables.hpp"
#include "utf8.hpp"

namespace torvex::binding {
namespace {

// --- quoted form ---------------------------------------------------------------------------

bool is_escaped(char32_t c) {
  const CodeRange* end = kEscapedRanges + kEscapedRangeCount;
  const CodeRange* it = std::upper_bound(
      kEscapedRanges, end, c, [](char32_t v, const CodeRange& r) { return v < r.first; });
  return it != kEscapedRanges && c <= (it - 1)->last;
}

// --- class members ------------------------------------------------------------------------

constexpr char kIndexField[] = "index";
using NodeIdMembers = NameAndNumber<PyNodeId, &NodeIdValue::index, kIndexField, true>;

constexpr const char* kNodeIdDoc =
    "A snapshot identifier for a node, returned by enumeration methods\n"
    "(`nodes()`, `successors()`, `roots()`, \xE2\x80\xA6). Carries the node's `name`\n"
    "plus its current internal `index`. The `index` is a snapshot \xE2\x80\x94 after\n"
    "a node is removed it may be reused. For a stable handle, use\n"
    "[`PyNodeRef`].";

const py::ClassRegistrar<PyNodeId> kNodeIdClass{{.doc = kNodeIdDoc}};
const py::BlockRegistrar kNodeIdIntrinsics{
    "NodeId",
    {.getters = {py::getter<NodeIdMembers::name>("name"),
                 py::getter<NodeIdMembers::number>("index")},
     .slots = {py::slot<Py_tp_richcompare, NodeIdMembers::richcompare>(),
               py::slot<Py_tp_hash, NodeIdMembers::hash>()}}};
const py::BlockRegistrar kNodeIdBlock{"NodeId",
                                      {.slots = {py::slot<Py_tp_repr, NodeIdMembers::repr>(),
                                                 py::slot<Py_tp_str, NodeIdMembers::name>()}}};

}  // namespace

std::string quoted(std::string_view name) {
  std::string out;
  out.reserve(name.size() + 2);
  out += '"';
  for (std::size_t i = 0; i < name.size();) {
    const std::size_t start = i;
    const char32_t c = next_code_point(name, i);
    switch (c) {
      case U'\t':
        out += "\\t";
        continue;
      case U'\r':
        out += "\\r";
        continue;
      case U'\n':
        out += "\\n";
        continue;
      case U'\\':
        out += "\\\\";
        continue;
      case U'"':
        out += "\\\"";
        continue;
      case U'\0':
        out += "\\0";
        continue;
      default:
        break;
    }
    if (is_escaped(c)) {
      char buffer[16];
      std::snprintf(buffer, sizeof buffer, "\\u{%x}", static_cast<unsigned>(c));
      out += buffer;
    } else {
      out.append(name.substr(start, i - start));
    }
  }
  out += '"';
  return out;
}

py::Ref make_node_id(std::string_view name, NodeIndex index) {
  py::Ref text = py::str(name);
  if (!text)
    return {};
  return py::Ref::steal(py::make<PyNodeId>(NodeIdValue{std::move(text), index}));
}

py::Ref make_node_id(const NodeId& id) {
  return make_node_id(id.name, id.index);
}

py::Ref node_id_list(const StableGraph& graph, const IndexList& indices) {
  // Orders visit slots in no memory order, so nearly every name is a cache miss. Gathered a
  // block at a time in a loop that does nothing else, the misses overlap; interleaved with
  // object creation they would be taken one by one.
  constexpr std::size_t kBlock = 64;
  std::string_view names[kBlock];
  py::Ref list = py::new_list(indices.size());
  if (!list)
    return {};
  for (std::size_t begin = 0; begin < indices.size(); begin += kBlock) {
    const std::size_t size = std::min(kBlock, indices.size() - begin);
    // Results can run to tens of millions of objects: a signal is seen while they are made.
    interrupt::poll(size);
    for (std::size_t k = 0; k < size; ++k) {
      names[k] = graph.name(indices[begin + k]);
      __builtin_prefetch(names[k].data());
    }
    for (std::size_t k = 0; k < size; ++k) {
      py::Ref element = make_node_id(names[k], indices[begin + k]);
      if (!element)
        return {};
      py::list_set(list.get(), begin + k, std::move(element));
    }
  }
  return list;
}

py::Ref node_id_list(const std::vector<NodeId>& ids) {
  return py::list_of(ids, [](const NodeId& id) { return make_node_id(id); });
}

py::Ref node_id_levels(const StableGraph& graph, const Levels& levels) {
  return py::list_of(levels, [&](const IndexList& level) { return node_id_list(graph, level); });
}

}  // namespace torvex::binding
