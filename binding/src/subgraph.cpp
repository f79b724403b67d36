// Induced subgraphs, as new graphs whose nodes share their payload and metadata objects with
// this one.
//
//   class DAG:
//       def subgraph(self, nodes) -> DAG: ...
//           # the named nodes in order of first occurrence, and every edge between them
//       def subgraph_by_depth(self, root, depth, direction="both") -> DAG: ...
//           # every node within `depth` hops of root along "forward", "backward" or "both"
//           # edges, and every edge between them; node order undefined
//
// Only the neighbourhood search runs with the interpreter lock released: copying nodes adds
// references to their payloads. A signal stops a copy anywhere; the half-built graph is dropped.
#include "algorithms/subgraph.hpp"

#include <algorithm>
#include <boost/unordered/unordered_flat_map.hpp>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "clone.hpp"
#include "dag_object.hpp"
#include "exceptions.hpp"
#include "interrupt.hpp"
#include "node_objects.hpp"
#include "node_sequence.hpp"

namespace torvex::binding {
namespace {

// Source slot -> slot of its copy in the new graph.
using CopyMap = boost::unordered_flat_map<NodeIndex, NodeIndex>;

// Adds a copy of the source node `n` (same name, shared payload objects) to `destination`.
bool copy_node(const CoreDAG& source, NodeIndex n, CoreDAG& destination, CopyMap& copies) {
  const std::string_view name = source.graph().name(n);
  Result<NodeHandle> added =
      destination.add_node(std::string(name), clone_payload(source.payload(n)));
  if (!added) {
    into_pyerr(added.error());
    return false;
  }
  copies.emplace(n, *destination.find(name));
  return true;
}

// The edges between copied nodes, with weight and label, in the source's edge slot order: what
// clone_edges copies, found through the copied nodes' outgoing lists rather than a scan of every
// source edge, so that a small part of a large graph costs little.
bool copy_edges_between(const CoreDAG& source, const CopyMap& copies, CoreDAG& destination) {
  const StableGraph& graph = source.graph();
  std::vector<EdgeIndex> edges;
  for (const auto& [n, copy] : copies) {
    interrupt::poll();
    graph.for_each_edge(n, Direction::Outgoing, [&](NodeIndex v, EdgeIndex e) {
      interrupt::poll();
      if (copies.contains(v))
        edges.push_back(e);
    });
  }
  std::sort(edges.begin(), edges.end(), interrupt::polling(std::less<>()));
  EdgeCopier copier(destination);
  for (EdgeIndex e : edges) {
    interrupt::poll();
    const Status added =
        copier.add(copies.at(graph.edge_source(e)), copies.at(graph.edge_target(e)),
                   graph.edge_weight(e), graph.edge_label(e));
    if (!added) {
      into_pyerr(added.error());
      return false;
    }
  }
  const Status checked = copier.finish();
  if (!checked) {
    into_pyerr(checked.error());
    return false;
  }
  return true;
}

// --- subgraph --------------------------------------------------------------------------------

constexpr py::Param kSubgraphParams[] = {py::required("nodes")};

PyObject* subgraph(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  /* parse arguments */
  PyObject* argv[1];
  if (!py::parse_args("DAG.subgraph()", kSubgraphParams, args, nargs, kwnames, argv))
    return nullptr;
  /* borrow */
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  /* convert */
  auto nodes = node_args(argv[0], "nodes");
  if (!nodes)
    return nullptr;
  NewDAG result = new_dag();
  if (!result)
    return nullptr;
  auto names = arg_names(*nodes, *dag);
  if (!names)
    return nullptr;
  /* copy the named nodes in order (a repeated name is a DuplicateNodeError), then their edges */
  CopyMap copies;
  copies.reserve(names->size());
  for (const std::string& name : *names) {
    interrupt::poll();
    const std::optional<NodeIndex> n = dag->find(name);
    if (!n)
      return into_pyerr(TorvexError::node_not_found(name));
    if (!copy_node(*dag, *n, *result.graph, copies))
      return nullptr;
  }
  if (!copy_edges_between(*dag, copies, *result.graph))
    return nullptr;
  return result.object.release();
}

// --- subgraph_by_depth -----------------------------------------------------------------------

constexpr py::Param kByDepthParams[] = {py::required("root"), py::required("depth"),
                                        py::optional("direction")};

// The direction code of a direction word, compared exactly. ValueError for any other text.
std::optional<algorithms::NeighborhoodDirection> direction_code(std::string_view word) {
  if (word == "forward")
    return algorithms::kNeighborhoodForward;
  if (word == "backward")
    return algorithms::kNeighborhoodBackward;
  if (word == "both")
    return algorithms::kNeighborhoodBoth;
  py::raise(PyExc_ValueError, "Invalid direction: '" + std::string(word) +
                                  "'. Expected 'forward', 'backward', or 'both'.");
  return std::nullopt;
}

PyObject* subgraph_by_depth(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
  /* parse arguments */
  PyObject* argv[3];
  if (!py::parse_args("DAG.subgraph_by_depth()", kByDepthParams, args, nargs, kwnames, argv))
    return nullptr;
  /* borrow */
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  /* convert, in parameter order; the direction is checked before the root is looked up */
  auto root = node_arg(argv[0], "root");
  if (!root)
    return nullptr;
  auto depth = py::count_arg(argv[1], "depth");
  if (!depth)
    return nullptr;
  // An explicit None is not "omitted": it must be a str like any other value.
  std::string_view word = "both";
  if (argv[2] != nullptr) {
    auto given = py::str_arg(argv[2], "direction");
    if (!given)
      return nullptr;
    word = *given;
  }
  auto direction = direction_code(word);
  if (!direction)
    return nullptr;
  Result<std::string_view> root_name = into_name(*root, *dag);
  if (!root_name)
    return into_pyerr(root_name.error());
  Result<NodeIndex> start = dag->resolve_name(*root_name);
  if (!start)
    return into_pyerr(start.error());
  /* search with the lock released */
  const IndexList found = py::without_gil(
      [&] { return algorithms::depth_neighborhood(dag->graph(), *start, *depth, *direction); });
  /* copy the nodes found, then the edges between them */
  NewDAG result = new_dag();
  if (!result)
    return nullptr;
  CopyMap copies;
  copies.reserve(found.size());
  for (NodeIndex n : found) {
    interrupt::poll();
    if (!copy_node(*dag, n, *result.graph, copies))
      return nullptr;
  }
  if (!copy_edges_between(*dag, copies, *result.graph))
    return nullptr;
  return result.object.release();
}

const py::BlockRegistrar kSubgraphBlock{
    "DAG",
    {.methods = {
         py::method<subgraph>(
             "subgraph",
             "subgraph($self, nodes)\n--\n\n"
             "Extract induced subgraph containing only the named nodes.\n\n"
             "Edges between the named nodes are preserved.\n\n"
             "Args:\n"
             "    nodes: List of node names to include.\n\n"
             "Returns:\n"
             "    A new DAG containing only the specified nodes and edges between them.\n\n"
             "Raises:\n"
             "    NodeNotFoundError: If any node doesn't exist."),
         py::method<subgraph_by_depth>(
             "subgraph_by_depth",
             "subgraph_by_depth($self, root, depth, direction=\"both\")\n--\n\n"
             "Extract subgraph within `depth` hops of root.\n\n"
             "Args:\n"
             "    root: The root node name.\n"
             "    depth: Maximum number of hops from root.\n"
             "    direction: \"forward\", \"backward\", or \"both\" (default \"both\").\n\n"
             "Returns:\n"
             "    A new DAG containing nodes within the specified depth.\n\n"
             "Raises:\n"
             "    NodeNotFoundError: If root doesn't exist."),
     }}};

}  // namespace
}  // namespace torvex::binding
