// Comparing two graphs, and the GraphDiff result class.
//
//   class DAG:
//       def diff(self, other) -> GraphDiff: ...   # structure with the lock released, then
//                                                 # payloads (==), weights and labels
//   class GraphDiff:                              # frozen; created only by DAG.diff
//       added_nodes: list[str]                    # only in other
//       removed_nodes: list[str]                  # only in self
//       changed_nodes: list[str]                  # in both, payloads unequal
//       added_edges: list[tuple[str, str]]
//       removed_edges: list[tuple[str, str]]
//       changed_edges: list[tuple[str, str]]      # in both, weight or label differs
//       def to_dict(self) -> dict: ...
//       def __repr__(self): return "GraphDiff(added_nodes=N, ...)"  # the six lengths
//
// A payload's __eq__ or __bool__ may raise; that never leaves diff, it marks the node changed.
#include "algorithms/diff.hpp"

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "dag_object.hpp"
#include "interrupt.hpp"

namespace torvex::binding {
namespace {

using algorithms::NamePair;

struct GraphDiffValue {
  std::vector<std::string> added_nodes;
  std::vector<std::string> removed_nodes;
  std::vector<std::string> changed_nodes;
  std::vector<NamePair> added_edges;
  std::vector<NamePair> removed_edges;
  std::vector<NamePair> changed_edges;
};

struct PyGraphDiff {
  using Value = GraphDiffValue;
  static constexpr bool kFrozen = true;
  static constexpr const char* kName = "GraphDiff";
};

// --- comparisons ---------------------------------------------------------------------------

// Whether two stored payloads differ: absent equals only absent; otherwise `a == b` by
// Python's rich comparison (no identity shortcut, so a NaN differs from itself). A comparison
// that raises counts as a difference and its exception is dropped (py::drop_callback_error).
bool payloads_differ(const py::DeferredRef& a, const py::DeferredRef& b) {
  if (!a || !b)
    return static_cast<bool>(a) != static_cast<bool>(b);
  // The comparison runs Python code: keep both operands alive across it.
  const py::Ref left = py::Ref::borrow(a.get());
  const py::Ref right = py::Ref::borrow(b.get());
  const int truth = py::calling_python([&] {
    const py::Ref equal = py::Ref::steal(PyObject_RichCompare(left.get(), right.get(), Py_EQ));
    return equal ? PyObject_IsTrue(equal.get()) : -1;
  });
  if (truth < 0) {
    py::drop_callback_error();
    return true;
  }
  return truth == 0;
}

// Whether two edges' data differ: weights further apart than the machine epsilon (a NaN never
// is), or labels that are not both absent or equal.
bool edges_differ(const StableGraph& a, EdgeIndex ea, const StableGraph& b, EdgeIndex eb) {
  constexpr double kEpsilon = 2.220446049250313e-16;
  if (std::fabs(a.edge_weight(ea) - b.edge_weight(eb)) > kEpsilon)
    return true;
  const std::string* la = a.edge_label(ea);
  const std::string* lb = b.edge_label(eb);
  if (la == nullptr || lb == nullptr)
    return (la == nullptr) != (lb == nullptr);
  return *la != *lb;
}

// --- DAG.diff ------------------------------------------------------------------------------

constexpr py::Param kDiffParams[] = {py::required("other")};

PyObject* diff(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  /* parse arguments */
  PyObject* argv[1];
  if (!py::parse_args("DAG.diff()", kDiffParams, args, nargs, kwnames, argv))
    return nullptr;
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  /* convert */
  if (!py::is_instance<PyDAG>(argv[0])) {
    py::conversion_error(argv[0], "DAG");
    return py::argument_error("other");
  }
  SharedDAG other(argv[0]);  // may be self: two shared borrows
  if (!other)
    return nullptr;
  /* structure, with the lock released */
  const StableGraph& a = dag->graph();
  const StableGraph& b = other->graph();
  algorithms::StructuralDiff structure =
      py::without_gil([&] { return algorithms::structural_diff(a, b); });
  /* payloads, weights and labels of what both have, with the lock held */
  GraphDiffValue value;
  for (std::size_t i = 0; i < structure.nodes_in_both.size(); ++i) {
    interrupt::poll();  // payloads of C types compare without running a signal handler
    const auto [in_a, in_b] = structure.nodes_in_both_slots[i];
    if (payloads_differ(dag->payload(in_a).payload, other->payload(in_b).payload))
      value.changed_nodes.push_back(std::move(structure.nodes_in_both[i]));
  }
  for (std::size_t i = 0; i < structure.edges_in_both.size(); ++i) {
    interrupt::poll();
    const auto [in_a, in_b] = structure.edges_in_both_slots[i];
    if (edges_differ(a, in_a, b, in_b))
      value.changed_edges.push_back(std::move(structure.edges_in_both[i]));
  }
  value.added_nodes = std::move(structure.nodes_only_in_b);
  value.removed_nodes = std::move(structure.nodes_only_in_a);
  value.added_edges = std::move(structure.edges_only_in_b);
  value.removed_edges = std::move(structure.edges_only_in_a);
  return py::make<PyGraphDiff>(std::move(value));
}

// --- GraphDiff -----------------------------------------------------------------------------

py::Ref pair_list(const std::vector<NamePair>& pairs) {
  py::Ref list = py::new_list(pairs.size());
  if (!list)
    return {};
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    py::Ref from = py::str(pairs[i].first);
    py::Ref to = py::str(pairs[i].second);
    py::Ref pair = py::new_tuple(2);
    if (!from || !to || !pair)
      return {};
    py::tuple_set(pair.get(), 0, std::move(from));
    py::tuple_set(pair.get(), 1, std::move(to));
    py::list_set(list.get(), i, std::move(pair));
  }
  return list;
}

// The six attributes in their order: name, and the list builder over the value.
struct Field {
  const char* name;
  py::Ref (*build)(const GraphDiffValue&);
};
constexpr Field kFields[] = {
    {"added_nodes", [](const GraphDiffValue& v) { return py::str_list(v.added_nodes); }},
    {"removed_nodes", [](const GraphDiffValue& v) { return py::str_list(v.removed_nodes); }},
    {"changed_nodes", [](const GraphDiffValue& v) { return py::str_list(v.changed_nodes); }},
    {"added_edges", [](const GraphDiffValue& v) { return pair_list(v.added_edges); }},
    {"removed_edges", [](const GraphDiffValue& v) { return pair_list(v.removed_edges); }},
    {"changed_edges", [](const GraphDiffValue& v) { return pair_list(v.changed_edges); }},
};

template <std::size_t I>
PyObject* field_getter(PyObject* self) {
  return kFields[I].build(py::value_of<PyGraphDiff>(self)).release();
}

PyObject* to_dict(PyObject* self) {
  const GraphDiffValue& value = py::value_of<PyGraphDiff>(self);
  py::Ref dict = py::Ref::steal(PyDict_New());
  if (!dict)
    return nullptr;
  for (const Field& field : kFields) {
    py::Ref list = field.build(value);
    if (!list || !py::dict_set(dict.get(), field.name, list))
      return nullptr;
  }
  return dict.release();
}

PyObject* graph_diff_repr(PyObject* self) {
  const GraphDiffValue& v = py::value_of<PyGraphDiff>(self);
  const std::string text = "GraphDiff(added_nodes=" + std::to_string(v.added_nodes.size()) +
                           ", removed_nodes=" + std::to_string(v.removed_nodes.size()) +
                           ", changed_nodes=" + std::to_string(v.changed_nodes.size()) +
                           ", added_edges=" + std::to_string(v.added_edges.size()) +
                           ", removed_edges=" + std::to_string(v.removed_edges.size()) +
                           ", changed_edges=" + std::to_string(v.changed_edges.size()) + ")";
  return py::str(text).release();
}

const py::ClassRegistrar<PyGraphDiff> kGraphDiffClass{{.doc = ""}};
const py::BlockRegistrar kGraphDiffBlock{
    "GraphDiff",
    {.methods = {py::method<to_dict>("to_dict", "to_dict($self)\n--\n\n")},
     .getters = {py::getter<field_getter<0>>("added_nodes"),
                 py::getter<field_getter<1>>("removed_nodes"),
                 py::getter<field_getter<2>>("changed_nodes"),
                 py::getter<field_getter<3>>("added_edges"),
                 py::getter<field_getter<4>>("removed_edges"),
                 py::getter<field_getter<5>>("changed_edges")},
     .slots = {py::slot<Py_tp_repr, graph_diff_repr>()}}};

const py::BlockRegistrar kDiffBlock{
    "DAG",
    {.methods = {
         py::method<diff>("diff",
                          "diff($self, other)\n--\n\n"
                          "Compute the diff between this DAG and another.\n\n"
                          "Compares graph structure (nodes and edges) and optionally payloads.\n"
                          "For payload comparison, Python __eq__ is used on common nodes.\n"
                          "For edge comparison, weight and label are compared for common edges.\n\n"
                          "Args:\n"
                          "    other: The other DAG to compare against.\n\n"
                          "Returns:\n"
                          "    A GraphDiff object describing the differences.")}}};

}  // namespace
}  // namespace torvex::binding
