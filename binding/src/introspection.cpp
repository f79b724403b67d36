// Reading a graph's structure, payloads and metadata.
//
//   class DAG:
//       def nodes(self) -> list[NodeId]: ...          # slot order
//       def roots(self) -> list[NodeId]: ...          # cached
//       def leaves(self) -> list[NodeId]: ...         # cached
//       def iter_nodes(self) / iter_roots(self) / iter_leaves(self) -> NodeIterator: ...
//       def node_count(self) -> int: ...
//       def edge_count(self) -> int: ...
//       def has_node(self, node) -> bool: ...         # a stale or dead NodeRef is False
//       def has_edge(self, from_node, to_node) -> bool: ...
//       def successors(self, node) / predecessors(self, node) -> list[NodeId]: ...
//       def in_degree(self, node) / out_degree(self, node) -> int: ...
//       def ancestors(self, node) / descendants(self, node) -> list[NodeId]: ...  # lock released
//       def iter_ancestors(self, node) / iter_descendants(self, node) -> NodeIterator: ...
//       def get_payload(self, node) / get_metadata(self, node): ...  # the stored object or None
//       def set_payload(self, node, payload) / set_metadata(self, node, metadata) -> None: ...
//
// Setting a payload or metadata changes neither the generation nor the cache.
#include <string>

#include "algorithms/traversal.hpp"
#include "dag_object.hpp"
#include "exceptions.hpp"
#include "iterator_objects.hpp"
#include "node_objects.hpp"

namespace torvex::binding {
namespace {

constexpr py::Param kNodeParams[] = {py::required("node")};
constexpr py::Param kEdgeParams[] = {py::required("from_node"), py::required("to_node")};

// The shape of every method with one node parameter: parse, borrow shared, convert and check
// the node, then body(dag, name).
template <class Body>
PyObject* with_node(const char* full_name, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, Body&& body) {
  PyObject* argv[1];
  if (!py::parse_args(full_name, kNodeParams, args, nargs, kwnames, argv))
    return nullptr;
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  auto node = named_node(argv[0], "node", *dag);
  if (!node)
    return nullptr;
  return body(*dag, node->name);
}

PyObject* id_list_or_error(const CoreDAG& dag, const Result<IndexList>& list) {
  if (!list)
    return into_pyerr(list.error());
  return node_id_list(dag.graph(), *list).release();
}

PyObject* count_or_error(const Result<std::size_t>& count) {
  if (!count)
    return into_pyerr(count.error());
  return py::integer(*count).release();
}

// Breadth-first reach of a node, computed with the interpreter lock released.
Result<IndexList> reach(const CoreDAG& dag, std::string_view name, Direction direction) {
  TORVEX_TRY(start, dag.resolve_name(name));
  return py::without_gil([&] { return algorithms::bfs_directed(dag.graph(), start, direction); });
}

// --- whole-graph lists ---------------------------------------------------------------------

PyObject* nodes(const CoreDAG& dag) {
  return node_id_list(dag.graph(), dag.nodes()).release();
}
PyObject* roots(const CoreDAG& dag) {
  return node_id_list(dag.graph(), *dag.roots()).release();
}
PyObject* leaves(const CoreDAG& dag) {
  return node_id_list(dag.graph(), *dag.leaves()).release();
}
PyObject* iter_nodes(const CoreDAG& dag) {
  return make_node_iterator(dag.graph(), dag.nodes());
}
PyObject* iter_roots(const CoreDAG& dag) {
  return make_node_iterator(dag.graph(), *dag.roots());
}
PyObject* iter_leaves(const CoreDAG& dag) {
  return make_node_iterator(dag.graph(), *dag.leaves());
}
PyObject* node_count(const CoreDAG& dag) {
  return py::integer(dag.node_count()).release();
}
PyObject* edge_count(const CoreDAG& dag) {
  return py::integer(dag.edge_count()).release();
}

// --- membership ----------------------------------------------------------------------------

PyObject* has_node(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* argv[1];
  if (!py::parse_args("DAG.has_node()", kNodeParams, args, nargs, kwnames, argv))
    return nullptr;
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  auto node = node_arg(argv[0], "node");
  if (!node)
    return nullptr;
  if (node->is_ref())
    return py::boolean(into_name(*node, *dag).ok());
  return py::boolean(dag->contains(node->name));
}

PyObject* has_edge(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* argv[2];
  if (!py::parse_args("DAG.has_edge()", kEdgeParams, args, nargs, kwnames, argv))
    return nullptr;
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  auto ends = named_nodes(argv, "from_node", "to_node", *dag);
  if (!ends)
    return nullptr;
  Result<bool> found = dag->has_edge(ends->first.name, ends->second.name);
  if (!found)
    return into_pyerr(found.error());
  return py::boolean(*found);
}

// --- neighbourhoods ------------------------------------------------------------------------

PyObject* successors(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_node("DAG.successors()", self, args, nargs, kwnames,
                   [](const CoreDAG& dag, std::string_view name) {
                     return id_list_or_error(dag, dag.successors(name));
                   });
}

PyObject* predecessors(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_node("DAG.predecessors()", self, args, nargs, kwnames,
                   [](const CoreDAG& dag, std::string_view name) {
                     return id_list_or_error(dag, dag.predecessors(name));
                   });
}

PyObject* in_degree(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_node("DAG.in_degree()", self, args, nargs, kwnames,
                   [](const CoreDAG& dag, std::string_view name) {
                     return count_or_error(dag.in_degree(name));
                   });
}

PyObject* out_degree(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_node("DAG.out_degree()", self, args, nargs, kwnames,
                   [](const CoreDAG& dag, std::string_view name) {
                     return count_or_error(dag.out_degree(name));
                   });
}

PyObject* ancestors(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_node("DAG.ancestors()", self, args, nargs, kwnames,
                   [](const CoreDAG& dag, std::string_view name) {
                     return id_list_or_error(dag, reach(dag, name, Direction::Incoming));
                   });
}

PyObject* descendants(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_node("DAG.descendants()", self, args, nargs, kwnames,
                   [](const CoreDAG& dag, std::string_view name) {
                     return id_list_or_error(dag, reach(dag, name, Direction::Outgoing));
                   });
}

PyObject* iter_reach(const CoreDAG& dag, std::string_view name, Direction direction) {
  Result<IndexList> list = reach(dag, name, direction);
  if (!list)
    return into_pyerr(list.error());
  return make_node_iterator(dag.graph(), *list);
}

PyObject* iter_ancestors(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
  return with_node("DAG.iter_ancestors()", self, args, nargs, kwnames,
                   [](const CoreDAG& dag, std::string_view name) {
                     return iter_reach(dag, name, Direction::Incoming);
                   });
}

PyObject* iter_descendants(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
  return with_node("DAG.iter_descendants()", self, args, nargs, kwnames,
                   [](const CoreDAG& dag, std::string_view name) {
                     return iter_reach(dag, name, Direction::Outgoing);
                   });
}

// --- payload and metadata ------------------------------------------------------------------

template <py::DeferredRef PyNodePayload::*Field>
PyObject* get_field(const CoreDAG& dag, std::string_view name) {
  Result<const PyNodePayload*> record = dag.get_payload(name);
  if (!record)
    return into_pyerr(record.error());
  return object_or_none((*record)->*Field);
}

PyObject* get_payload(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_node("DAG.get_payload()", self, args, nargs, kwnames,
                   &get_field<&PyNodePayload::payload>);
}

PyObject* get_metadata(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return with_node("DAG.get_metadata()", self, args, nargs, kwnames,
                   &get_field<&PyNodePayload::metadata>);
}

// Replaces one field of a node's record: None is stored as absent. The old object is released
// after the new one is in place.
template <py::DeferredRef PyNodePayload::*Field>
PyObject* set_field(const char* full_name, const py::Param (&params)[2], PyObject* self,
                    PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* argv[2];
  if (!py::parse_args(full_name, params, args, nargs, kwnames, argv))
    return nullptr;
  ExclusiveDAG dag(self);
  if (!dag)
    return nullptr;
  py::DeferredRef value;
  if (argv[1] != Py_None)
    value = py::DeferredRef::borrow(argv[1]);
  auto node = named_node(argv[0], "node", *dag);
  if (!node)
    return nullptr;
  Result<PyNodePayload*> record = dag->get_payload_mut(node->name);
  if (!record)
    return into_pyerr(record.error());
  ((*record)->*Field).swap(value);
  return py::none();
}

constexpr py::Param kSetPayloadParams[] = {py::required("node"), py::required("payload")};
constexpr py::Param kSetMetadataParams[] = {py::required("node"), py::required("metadata")};

PyObject* set_payload(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return set_field<&PyNodePayload::payload>("DAG.set_payload()", kSetPayloadParams, self, args,
                                            nargs, kwnames);
}

PyObject* set_metadata(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return set_field<&PyNodePayload::metadata>("DAG.set_metadata()", kSetMetadataParams, self, args,
                                             nargs, kwnames);
}

#define TORVEX_RAISES_NOT_FOUND "\n\nRaises:\n    NodeNotFoundError: If the node doesn't exist."

const py::BlockRegistrar kIntrospectionBlock{
    "DAG",
    {.methods = {
         py::method<has_node>("has_node",
                              "has_node($self, node)\n--\n\n"
                              "Check if a node with the given name (or NodeRef) exists."),
         py::method<has_edge>("has_edge",
                              "has_edge($self, from_node, to_node)\n--\n\n"
                              "Check if an edge exists between two nodes (str or NodeRef).\n\n"
                              "Raises:\n    NodeNotFoundError: If either node doesn't exist."),
         py::method<with_shared<node_count>>(
             "node_count", "node_count($self)\n--\n\nReturn the number of nodes in the graph."),
         py::method<with_shared<edge_count>>(
             "edge_count", "edge_count($self)\n--\n\nReturn the number of edges in the graph."),
         py::method<get_payload>(
             "get_payload",
             "get_payload($self, node)\n--\n\n"
             "Get the payload associated with a node (str or NodeRef)." TORVEX_RAISES_NOT_FOUND),
         py::method<set_payload>(
             "set_payload",
             "set_payload($self, node, payload)\n--\n\n"
             "Set the payload for a node (str or NodeRef)." TORVEX_RAISES_NOT_FOUND),
         py::method<get_metadata>(
             "get_metadata",
             "get_metadata($self, node)\n--\n\n"
             "Get the metadata associated with a node (str or NodeRef)." TORVEX_RAISES_NOT_FOUND),
         py::method<set_metadata>(
             "set_metadata",
             "set_metadata($self, node, metadata)\n--\n\n"
             "Set the metadata for a node (str or NodeRef)." TORVEX_RAISES_NOT_FOUND),
         py::method<predecessors>("predecessors",
                                  "predecessors($self, node)\n--\n\n"
                                  "Get the immediate predecessors (parents) of a node (str or "
                                  "NodeRef)." TORVEX_RAISES_NOT_FOUND),
         py::method<successors>("successors",
                                "successors($self, node)\n--\n\n"
                                "Get the immediate successors (children) of a node (str or "
                                "NodeRef)." TORVEX_RAISES_NOT_FOUND),
         py::method<ancestors>("ancestors",
                               "ancestors($self, node)\n--\n\n"
                               "Get all ancestors of a node (transitive predecessors). Accepts "
                               "str or NodeRef." TORVEX_RAISES_NOT_FOUND),
         py::method<descendants>("descendants",
                                 "descendants($self, node)\n--\n\n"
                                 "Get all descendants of a node (transitive successors). Accepts "
                                 "str or NodeRef." TORVEX_RAISES_NOT_FOUND),
         py::method<in_degree>("in_degree",
                               "in_degree($self, node)\n--\n\n"
                               "Get the in-degree (number of incoming edges) of a node (str or "
                               "NodeRef)." TORVEX_RAISES_NOT_FOUND),
         py::method<out_degree>("out_degree",
                                "out_degree($self, node)\n--\n\n"
                                "Get the out-degree (number of outgoing edges) of a node (str or "
                                "NodeRef)." TORVEX_RAISES_NOT_FOUND),
         py::method<with_shared<roots>>(
             "roots", "roots($self)\n--\n\nGet all root nodes (nodes with no incoming edges)."),
         py::method<with_shared<leaves>>(
             "leaves", "leaves($self)\n--\n\nGet all leaf nodes (nodes with no outgoing edges)."),
         py::method<with_shared<nodes>>("nodes", "nodes($self)\n--\n\nGet all nodes in the graph."),
         py::method<with_shared<iter_nodes>>(
             "iter_nodes", "iter_nodes($self)\n--\n\nReturn a lazy iterator over all nodes."),
         py::method<with_shared<iter_roots>>(
             "iter_roots", "iter_roots($self)\n--\n\nReturn a lazy iterator over root nodes."),
         py::method<with_shared<iter_leaves>>(
             "iter_leaves", "iter_leaves($self)\n--\n\nReturn a lazy iterator over leaf nodes."),
         py::method<iter_ancestors>("iter_ancestors",
                                    "iter_ancestors($self, node)\n--\n\n"
                                    "Return a lazy iterator over ancestors of a node (str or "
                                    "NodeRef)."),
         py::method<iter_descendants>("iter_descendants",
                                      "iter_descendants($self, node)\n--\n\n"
                                      "Return a lazy iterator over descendants of a node (str or "
                                      "NodeRef)."),
     }}};

#undef TORVEX_RAISES_NOT_FOUND

}  // namespace
}  // namespace torvex::binding
