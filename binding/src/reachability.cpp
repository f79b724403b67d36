// Reachability: the traversal test and the precomputed index.
//
//   class DAG:
//       def build_reachability_index(self) -> ReachabilityIndex: ...  # lock released for the build
//       def is_ancestor(self, ancestor, descendant) -> bool: ...       # lock released; a node is
//                                                                      # its own ancestor
//   class ReachabilityIndex:      # a snapshot: answers for the graph as it was built
//       def can_reach(self, from_node, to_node) -> bool: ...
//       def reachable_from(self, node) -> list[str]: ...   # Kahn order of the build, self excluded
//       def ancestors_of(self, node) -> list[str]: ...     # the same
//       def node_count(self) -> int: ...
//
// The index knows names, not epochs: a NodeRef counts as its name, and a name not in the index
// raises NodeNotFoundError. The index keeps no reference to the graph, so the whole build, names
// included, runs without the lock; its rows take about V²/8 bytes, and a build that cannot have
// them raises MemoryError.
#include "graph/reachability.hpp"

#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "dag_object.hpp"
#include "exceptions.hpp"
#include "node_objects.hpp"

namespace torvex::binding {
namespace {

struct PyReachabilityIndex {
  using Value = NamedReachabilityIndex;
  static constexpr bool kFrozen = false;
  static constexpr const char* kName = "ReachabilityIndex";
};

using SharedIndex = py::Shared<PyReachabilityIndex>;

const py::ClassRegistrar<PyReachabilityIndex> kReachabilityIndexClass{
    {.doc = "Precomputed reachability index for O(1) ancestor/descendant queries.\n\n"
            "Build once with `DAG.build_reachability_index()`, then query with\n"
            "`can_reach()`, `reachable_from()`, and `ancestors_of()`.\n\n"
            "Note: The index becomes stale if the DAG is mutated after building."}};

// --- DAG methods -----------------------------------------------------------------------------

PyObject* build_reachability_index(PyObject* self) {
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  // std::bad_alloc leaves through here with the lock already retaken.
  auto index = py::without_gil([&] { return torvex::build_reachability_index(*dag); });
  if (!index)
    return into_pyerr(index.error());
  return py::make<PyReachabilityIndex>(std::move(*index));
}

constexpr py::Param kIsAncestorParams[] = {py::required("ancestor"), py::required("descendant")};

PyObject* is_ancestor(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  /* parse arguments */
  PyObject* argv[2];
  if (!py::parse_args("DAG.is_ancestor()", kIsAncestorParams, args, nargs, kwnames, argv))
    return nullptr;
  /* borrow */
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  /* convert, in parameter order; handles are checked before either name is looked up */
  auto ends = named_nodes(argv, "ancestor", "descendant", *dag);
  if (!ends)
    return nullptr;
  /* call the core with the lock released */
  Result<bool> found =
      py::without_gil([&] { return dag->is_ancestor(ends->first.name, ends->second.name); });
  /* build the result */
  if (!found)
    return into_pyerr(found.error());
  return py::boolean(*found);
}

// --- ReachabilityIndex methods (all under the lock: a few lookups and a bit scan) ------------

constexpr py::Param kCanReachParams[] = {py::required("from_node"), py::required("to_node")};
constexpr py::Param kNodeParams[] = {py::required("node")};

PyObject* can_reach(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  /* parse arguments */
  PyObject* argv[2];
  if (!py::parse_args("ReachabilityIndex.can_reach()", kCanReachParams, args, nargs, kwnames,
                      argv)) {
    return nullptr;
  }
  /* borrow */
  SharedIndex index(self);
  if (!index)
    return nullptr;
  /* convert: a NodeRef stands for its name, whatever its epoch */
  auto from = node_arg(argv[0], "from_node");
  if (!from)
    return nullptr;
  auto to = node_arg(argv[1], "to_node");
  if (!to)
    return nullptr;
  /* query */
  Result<bool> reached = index->can_reach(from->name, to->name);
  if (!reached)
    return into_pyerr(reached.error());
  return py::boolean(*reached);
}

// The shape of the two listing queries: parse, borrow, convert, then query(index, name).
template <class Query>
PyObject* list_query(const char* full_name, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames, Query&& query) {
  PyObject* argv[1];
  if (!py::parse_args(full_name, kNodeParams, args, nargs, kwnames, argv))
    return nullptr;
  SharedIndex index(self);
  if (!index)
    return nullptr;
  auto node = node_arg(argv[0], "node");
  if (!node)
    return nullptr;
  Result<std::vector<std::string_view>> names = query(*index, node->name);
  if (!names)
    return into_pyerr(names.error());
  return py::str_list(*names).release();
}

PyObject* reachable_from(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
  return list_query("ReachabilityIndex.reachable_from()", self, args, nargs, kwnames,
                    [](const NamedReachabilityIndex& index, std::string_view name) {
                      return index.reachable_from(name);
                    });
}

PyObject* ancestors_of(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return list_query("ReachabilityIndex.ancestors_of()", self, args, nargs, kwnames,
                    [](const NamedReachabilityIndex& index, std::string_view name) {
                      return index.ancestors_of(name);
                    });
}

PyObject* node_count(PyObject* self) {
  SharedIndex index(self);
  if (!index)
    return nullptr;
  return py::integer(index->node_count()).release();
}

const py::BlockRegistrar kReachabilityBlock{
    "DAG",
    {.methods = {
         py::method<build_reachability_index>(
             "build_reachability_index",
             "build_reachability_index($self)\n--\n\n"
             "Build a reachability index for O(1) ancestor/descendant queries.\n\n"
             "Returns:\n"
             "    A ReachabilityIndex that can be queried for reachability.\n\n"
             "Raises:\n"
             "    CycleError: If the graph contains cycles."),
         py::method<is_ancestor>(
             "is_ancestor",
             "is_ancestor($self, ancestor, descendant)\n--\n\n"
             "Check if `ancestor` is an ancestor of `descendant` (BFS, no preprocessing).\n\n"
             "Args:\n"
             "    ancestor: Potential ancestor node name.\n"
             "    descendant: Potential descendant node name.\n\n"
             "Returns:\n"
             "    True if ancestor is an ancestor of (or equal to) descendant.\n\n"
             "Raises:\n"
             "    NodeNotFoundError: If either node doesn't exist."),
     }}};

const py::BlockRegistrar kReachabilityIndexBlock{
    "ReachabilityIndex",
    {.methods = {
         py::method<can_reach>("can_reach",
                               "can_reach($self, from_node, to_node)\n--\n\n"
                               "Check if `from_node` can reach `to_node` in O(1).\n\n"
                               "Args:\n"
                               "    from_node: Source node (str or NodeRef).\n"
                               "    to_node: Target node (str or NodeRef).\n\n"
                               "Returns:\n"
                               "    True if from_node can reach to_node."),
         py::method<reachable_from>("reachable_from",
                                    "reachable_from($self, node)\n--\n\n"
                                    "All nodes reachable from `node` (excluding self).\n\n"
                                    "Args:\n"
                                    "    node: Node (str or NodeRef).\n\n"
                                    "Returns:\n"
                                    "    List of reachable node names."),
         py::method<ancestors_of>("ancestors_of",
                                  "ancestors_of($self, node)\n--\n\n"
                                  "All nodes that can reach `node` (excluding self).\n\n"
                                  "Args:\n"
                                  "    node: Node (str or NodeRef).\n\n"
                                  "Returns:\n"
                                  "    List of ancestor node names."),
         py::method<node_count>("node_count",
                                "node_count($self)\n--\n\nNumber of nodes in the index."),
     }}};

}  // namespace
}  // namespace torvex::binding
