// Paths between two nodes. Each computes with the interpreter lock released.
//
//   class DAG:
//       def all_paths(self, from_node, to_node, limit=None) -> list[list[NodeId]]: ...
//       def shortest_path(self, from_node, to_node) -> list[NodeId] | None: ...
//       def longest_path(self, from_node, to_node, costs=None)
//               -> tuple[list[NodeId], float] | None: ...
//
// A NodeRef argument is checked against the graph before the core runs (from_node first); plain
// names are looked up by the core, also from_node first. An unreachable target is no error.
#include "graph/paths.hpp"

#include <boost/unordered/unordered_flat_map.hpp>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "costs.hpp"
#include "dag_object.hpp"
#include "exceptions.hpp"
#include "interrupt.hpp"
#include "node_objects.hpp"

namespace torvex::binding {
namespace {

// Both endpoints of a path query, type-checked; the names are what the core receives once
// resolve_endpoints has checked any handle. The views stay valid while the NodeArgs live.
struct Endpoints {
  NodeArg from;
  NodeArg to;
  std::string_view from_name = {};
  std::string_view to_name = {};
};

std::optional<Endpoints> endpoint_args(PyObject* from_obj, PyObject* to_obj) {
  auto from = node_arg(from_obj, "from_node");
  if (!from)
    return std::nullopt;
  auto to = node_arg(to_obj, "to_node");
  if (!to)
    return std::nullopt;
  return Endpoints{std::move(*from), std::move(*to)};
}

// Resolves handles (from first); plain names pass through for the core. False with the error set.
bool resolve_endpoints(Endpoints& ends, const CoreDAG& dag) {
  Result<std::string_view> from = into_name(ends.from, dag);
  if (!from) {
    into_pyerr(from.error());
    return false;
  }
  Result<std::string_view> to = into_name(ends.to, dag);
  if (!to) {
    into_pyerr(to.error());
    return false;
  }
  ends.from_name = *from;
  ends.to_name = *to;
  return true;
}

// The paths as lists of new NodeId objects. Paths share most of their nodes, so each node's
// name becomes a str once and every NodeId of it refers to that str.
py::Ref path_list(const std::vector<std::vector<NodeId>>& paths) {
  boost::unordered_flat_map<NodeIndex, py::Ref> name_strs;
  py::Ref list = py::new_list(paths.size());
  if (!list)
    return {};
  for (std::size_t i = 0; i < paths.size(); ++i) {
    interrupt::poll(paths[i].size() + 1);
    py::Ref path = py::new_list(paths[i].size());
    if (!path)
      return {};
    for (std::size_t k = 0; k < paths[i].size(); ++k) {
      const NodeId& node = paths[i][k];
      py::Ref& name = name_strs[node.index];
      if (!name) {
        name = py::str(node.name);
        if (!name)
          return {};
      }
      py::Ref id = py::Ref::steal(py::make<PyNodeId>(NodeIdValue{name, node.index}));
      if (!id)
        return {};
      py::list_set(path.get(), k, std::move(id));
    }
    py::list_set(list.get(), i, std::move(path));
  }
  return list;
}

constexpr py::Param kAllPathsParams[] = {py::required("from_node"), py::required("to_node"),
                                         py::optional("limit")};

PyObject* all_paths(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  /* parse arguments */
  PyObject* argv[3];
  if (!py::parse_args("DAG.all_paths()", kAllPathsParams, args, nargs, kwnames, argv))
    return nullptr;
  /* borrow */
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  /* convert, in parameter order */
  auto ends = endpoint_args(argv[0], argv[1]);
  if (!ends)
    return nullptr;
  std::optional<std::size_t> limit;
  if (!py::is_absent(argv[2])) {
    auto count = py::count_arg(argv[2], "limit");
    if (!count)
      return nullptr;
    limit = static_cast<std::size_t>(*count);
  }
  if (!resolve_endpoints(*ends, *dag))
    return nullptr;
  /* call the core with the lock released */
  auto paths = py::without_gil(
      [&] { return torvex::all_paths(*dag, ends->from_name, ends->to_name, limit); });
  /* build the result */
  if (!paths)
    return into_pyerr(paths.error());
  return path_list(*paths).release();
}

constexpr py::Param kShortestPathParams[] = {py::required("from_node"), py::required("to_node")};

PyObject* shortest_path(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
  /* parse arguments */
  PyObject* argv[2];
  if (!py::parse_args("DAG.shortest_path()", kShortestPathParams, args, nargs, kwnames, argv))
    return nullptr;
  /* borrow */
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  /* convert, in parameter order */
  auto ends = endpoint_args(argv[0], argv[1]);
  if (!ends)
    return nullptr;
  if (!resolve_endpoints(*ends, *dag))
    return nullptr;
  /* call the core with the lock released */
  auto path =
      py::without_gil([&] { return torvex::shortest_path(*dag, ends->from_name, ends->to_name); });
  /* build the result */
  if (!path)
    return into_pyerr(path.error());
  if (!path->has_value())
    return py::none();
  return node_id_list(**path).release();
}

constexpr py::Param kLongestPathParams[] = {py::required("from_node"), py::required("to_node"),
                                            py::optional("costs")};

PyObject* longest_path(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  /* parse arguments */
  PyObject* argv[3];
  if (!py::parse_args("DAG.longest_path()", kLongestPathParams, args, nargs, kwnames, argv))
    return nullptr;
  /* borrow */
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  /* convert, in parameter order */
  auto ends = endpoint_args(argv[0], argv[1]);
  if (!ends)
    return nullptr;
  std::optional<CostMap> costs = to_ahash(argv[2], "costs");
  if (!costs)
    return nullptr;
  if (!resolve_endpoints(*ends, *dag))
    return nullptr;
  /* call the core with the lock released */
  auto found = py::without_gil(
      [&] { return torvex::longest_path(*dag, ends->from_name, ends->to_name, *costs); });
  /* build the result */
  if (!found)
    return into_pyerr(found.error());
  if (!found->has_value())
    return py::none();
  py::Ref path = node_id_list((*found)->path);
  if (!path)
    return nullptr;
  py::Ref total = py::float_object((*found)->total);
  if (!total)
    return nullptr;
  py::Ref pair = py::new_tuple(2);
  if (!pair)
    return nullptr;
  py::tuple_set(pair.get(), 0, std::move(path));
  py::tuple_set(pair.get(), 1, std::move(total));
  return pair.release();
}

const py::BlockRegistrar kPathsBlock{
    "DAG",
    {.methods = {
         py::method<all_paths>(
             "all_paths",
             "all_paths($self, from_node, to_node, limit=None)\n--\n\n"
             "Find all directed paths from one node to another.\n\n"
             "Args:\n"
             "    from_node: Source node (str or NodeRef).\n"
             "    to_node: Target node (str or NodeRef).\n"
             "    limit: Maximum number of paths to return (None = unlimited).\n\n"
             "Returns:\n"
             "    List of paths, each path being a list of NodeId.\n\n"
             "Raises:\n"
             "    NodeNotFoundError: If either node doesn't exist."),
         py::method<shortest_path>(
             "shortest_path",
             "shortest_path($self, from_node, to_node)\n--\n\n"
             "Find the shortest path (fewest edges) between two nodes.\n\n"
             "Args:\n"
             "    from_node: Source node (str or NodeRef).\n"
             "    to_node: Target node (str or NodeRef).\n\n"
             "Returns:\n"
             "    List of NodeId representing the path, or None if unreachable.\n\n"
             "Raises:\n"
             "    NodeNotFoundError: If either node doesn't exist."),
         py::method<longest_path>(
             "longest_path",
             "longest_path($self, from_node, to_node, costs=None)\n--\n\n"
             "Find the longest weighted path between two nodes.\n\n"
             "Args:\n"
             "    from_node: Source node (str or NodeRef).\n"
             "    to_node: Target node (str or NodeRef).\n"
             "    costs: Optional dict mapping node names to costs (default 1.0).\n\n"
             "Returns:\n"
             "    Tuple of (path as list of NodeId, total cost), or None if unreachable.\n\n"
             "Raises:\n"
             "    NodeNotFoundError: If either node doesn't exist."),
     }}};

}  // namespace
}  // namespace torvex::binding
