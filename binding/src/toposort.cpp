// Topological orders. Each computes with the interpreter lock released; the Kahn order, the
// depth-first order and the levels come from the graph's cache.
//
//   class DAG:
//       def topological_sort(self) -> list[NodeId]: ...
//       def topological_sort_dfs(self) -> list[NodeId]: ...
//       def all_topological_orderings(self, limit=None) -> list[list[NodeId]]: ...
//       def topological_levels(self) -> list[list[NodeId]]: ...
//       def iter_topological_sort(self) -> NodeIterator: ...
//       def iter_topological_levels(self) -> NodeLevelIterator: ...
#include <vector>

#include "dag_object.hpp"
#include "exceptions.hpp"
#include "interrupt.hpp"
#include "iterator_objects.hpp"
#include "node_objects.hpp"

namespace torvex::binding {
namespace {

PyObject* id_list(const StableGraph& graph, const IndexList& order) {
  return node_id_list(graph, order).release();
}
PyObject* id_levels(const StableGraph& graph, const Levels& levels) {
  return node_id_levels(graph, levels).release();
}

// Every ordering holds every node: each name becomes one str that all its NodeIds share, which
// halves the objects to make and to free.
py::Ref orderings_list(const StableGraph& graph, const std::vector<IndexList>& orders) {
  std::vector<py::Ref> names(graph.node_bound());
  py::Ref list = py::new_list(orders.size());
  if (!list)
    return {};
  for (std::size_t i = 0; i < orders.size(); ++i) {
    py::Ref order = py::new_list(orders[i].size());
    if (!order)
      return {};
    for (std::size_t k = 0; k < orders[i].size(); ++k) {
      interrupt::poll();
      const NodeIndex n = orders[i][k];
      if (!names[n]) {
        names[n] = py::str(graph.name(n));
        if (!names[n])
          return {};
      }
      py::Ref id = py::Ref::steal(py::make<PyNodeId>(NodeIdValue{names[n], n}));
      if (!id)
        return {};
      py::list_set(order.get(), k, std::move(id));
    }
    py::list_set(list.get(), i, std::move(order));
  }
  return list;
}

// The shape of every cached order: computed (or copied from the cache) with the lock released,
// then Build(graph, order) with the lock held.
template <auto Order, auto Build>
PyObject* cached_order(const CoreDAG& dag) {
  auto order = py::without_gil([&] { return (dag.*Order)(); });
  if (!order)
    return into_pyerr(order.error());
  return Build(dag.graph(), **order);
}

constexpr auto topological_sort = with_shared<cached_order<&GraphStore::topological_sort, id_list>>;
constexpr auto topological_sort_dfs =
    with_shared<cached_order<&GraphStore::topological_sort_dfs, id_list>>;
constexpr auto topological_levels =
    with_shared<cached_order<&GraphStore::topological_levels, id_levels>>;
constexpr auto iter_topological_sort =
    with_shared<cached_order<&GraphStore::topological_sort, make_node_iterator>>;
constexpr auto iter_topological_levels =
    with_shared<cached_order<&GraphStore::topological_levels, make_node_level_iterator>>;

constexpr py::Param kOrderingsParams[] = {py::optional("limit")};

PyObject* all_topological_orderings(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) {
  PyObject* argv[1];
  if (!py::parse_args("DAG.all_topological_orderings()", kOrderingsParams, args, nargs, kwnames,
                      argv)) {
    return nullptr;
  }
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  std::optional<std::size_t> limit;
  if (!py::is_absent(argv[0])) {
    auto count = py::count_arg(argv[0], "limit");
    if (!count)
      return nullptr;
    limit = static_cast<std::size_t>(*count);
  }
  Result<std::vector<IndexList>> orders =
      py::without_gil([&] { return dag->all_topological_orderings(limit); });
  if (!orders)
    return into_pyerr(orders.error());
  return orderings_list(dag->graph(), *orders).release();
}

const py::BlockRegistrar kToposortBlock{
    "DAG",
    {.methods = {
         py::method<topological_sort>("topological_sort",
                                      "topological_sort($self)\n--\n\n"
                                      "Return nodes in topological order using Kahn's algorithm.\n"
                                      "Sources (no dependencies) come first.\n\n"
                                      "Raises:\n    CycleError: If the graph contains cycles."),
         py::method<topological_sort_dfs>(
             "topological_sort_dfs",
             "topological_sort_dfs($self)\n--\n\n"
             "Return nodes in topological order using DFS (reverse postorder).\n\n"
             "Raises:\n    CycleError: If the graph contains cycles."),
         py::method<all_topological_orderings>(
             "all_topological_orderings",
             "all_topological_orderings($self, limit=None)\n--\n\n"
             "Enumerate all valid topological orderings via backtracking.\n\n"
             "WARNING: The number of orderings can be factorial. Always use `limit`\n"
             "for non-trivial graphs.\n\n"
             "Args:\n    limit: Maximum number of orderings to return (None = unlimited).\n\n"
             "Returns:\n    List of orderings, each being a list of NodeId.\n\n"
             "Raises:\n    CycleError: If the graph contains cycles."),
         py::method<topological_levels>(
             "topological_levels",
             "topological_levels($self)\n--\n\n"
             "Return nodes grouped by topological level.\n"
             "Level 0 = roots, Level 1 = nodes depending only on roots, etc.\n\n"
             "Raises:\n    CycleError: If the graph contains cycles."),
         py::method<iter_topological_sort>(
             "iter_topological_sort",
             "iter_topological_sort($self)\n--\n\n"
             "Return a lazy iterator over topologically sorted nodes.\n\n"
             "Raises:\n    CycleError: If the graph contains cycles."),
         py::method<iter_topological_levels>(
             "iter_topological_levels",
             "iter_topological_levels($self)\n--\n\n"
             "Return a lazy iterator over topological levels.\n\n"
             "Raises:\n    CycleError: If the graph contains cycles."),
     }}};

}  // namespace
}  // namespace torvex::binding
