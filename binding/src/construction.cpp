// Building and shrinking a graph.
//
//   class DAG:
//       def add_node(self, name: str, payload=None, metadata=None) -> NodeRef: ...
//       def node_ref(self, name: str) -> NodeRef | None: ...
//       def add_nodes(self, nodes: list[str | tuple]) -> list[NodeRef]: ...
//       def add_edge(self, from_node, to_node, weight=None, label=None) -> None: ...
//       def add_edges(self, edges: list[tuple]) -> None: ...
//       def remove_node(self, node) -> None: ...
//       def remove_edge(self, from_node, to_node) -> None: ...
//       @staticmethod
//       def builder() -> "torvex.builder.DAGBuilder": ...
//
// add_edge and add_edges run every cycle search with the interpreter lock released (add_edges
// checks most items in batches, where the constant-time tests and the batch's bookkeeping keep
// the lock). The bulk forms keep the items before a failing one.
#include <algorithm>
#include <cmath>
#include <string>

#include "dag_object.hpp"
#include "exceptions.hpp"
#include "node_objects.hpp"

namespace torvex::binding {
namespace {

constexpr const char* kNodeFormError =
    "Each node must be a string name, (name, payload) tuple, or (name, payload, metadata) tuple";
constexpr const char* kEdgeFormError =
    "Each edge must be a (from, to), (from, to, weight), or (from, to, weight, label) tuple. "
    "`from` and `to` may be a str or NodeRef.";

// The name object for a handle: the caller's str itself when it is exactly a str.
py::Ref handle_name(PyObject* given, const NodeHandle& handle) {
  if (PyUnicode_CheckExact(given))
    return py::Ref::borrow(given);
  return py::str(handle.name);
}

// Runs a cycle search without the interpreter lock: it reads only the core graph.
const SearchWrapper kWithoutGil = [](const std::function<void()>& search) {
  py::without_gil(search);
};

// The core's add_edge with a cycle search, when one is needed, run without the interpreter lock.
Status insert_edge(CoreDAG& dag, const NodeArg& from, const NodeArg& to,
                   std::optional<double> weight, std::optional<std::string_view> label) {
  TORVEX_TRY(from_name, into_name(from, dag));
  TORVEX_TRY(to_name, into_name(to, dag));
  std::optional<std::string> label_text;
  if (label)
    label_text.emplace(*label);
  return dag.add_edge(from_name, to_name, weight, std::move(label_text), kWithoutGil);
}

// --- add_node / node_ref -------------------------------------------------------------------

constexpr py::Param kAddNodeParams[] = {py::required("name"), py::optional("payload"),
                                        py::optional("metadata")};

PyObject* add_node(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  /* parse arguments */
  PyObject* argv[3];
  if (!py::parse_args("DAG.add_node()", kAddNodeParams, args, nargs, kwnames, argv))
    return nullptr;
  ExclusiveDAG dag(self);
  if (!dag)
    return nullptr;
  /* convert */
  auto name = py::str_arg(argv[0], "name");
  if (!name)
    return nullptr;
  PyNodePayload record;
  if (!py::is_absent(argv[1]))
    record.payload = py::DeferredRef::borrow(argv[1]);
  if (!py::is_absent(argv[2]))
    record.metadata = py::DeferredRef::borrow(argv[2]);
  /* call the core */
  Result<NodeHandle> handle = dag->add_node(std::string(*name), std::move(record));
  if (!handle)
    return into_pyerr(handle.error());
  return make_node_ref(handle_name(argv[0], *handle), handle->epoch).release();
}

constexpr py::Param kNodeRefParams[] = {py::required("name")};

PyObject* node_ref(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* argv[1];
  if (!py::parse_args("DAG.node_ref()", kNodeRefParams, args, nargs, kwnames, argv))
    return nullptr;
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  auto name = py::str_arg(argv[0], "name");
  if (!name)
    return nullptr;
  std::optional<NodeHandle> handle = dag->node_ref(*name);
  if (!handle)
    return py::none();
  return make_node_ref(handle_name(argv[0], *handle), handle->epoch).release();
}

// --- add_nodes -----------------------------------------------------------------------------

// One item of add_nodes: its name and payload record, or nothing for a malformed item.
std::optional<std::string_view> node_item(PyObject* item, PyNodePayload& record) {
  if (PyUnicode_Check(item))
    return py::utf8(item);
  if (!PyTuple_Check(item))
    return std::nullopt;
  const Py_ssize_t size = PyTuple_Size(item);
  if (size != 2 && size != 3)
    return std::nullopt;
  PyObject* first = PyTuple_GetItem(item, 0);
  if (!PyUnicode_Check(first))
    return std::nullopt;
  auto name = py::utf8(first);
  if (!name)
    return std::nullopt;
  // Stored as given: a None here is a payload, not an absent one.
  record.payload = py::DeferredRef::borrow(PyTuple_GetItem(item, 1));
  if (size == 3)
    record.metadata = py::DeferredRef::borrow(PyTuple_GetItem(item, 2));
  return name;
}

constexpr py::Param kAddNodesParams[] = {py::required("nodes")};

PyObject* add_nodes(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* argv[1];
  if (!py::parse_args("DAG.add_nodes()", kAddNodesParams, args, nargs, kwnames, argv))
    return nullptr;
  ExclusiveDAG dag(self);
  if (!dag)
    return nullptr;
  if (!py::list_arg(argv[0], "nodes"))
    return nullptr;
  PyObject* nodes = argv[0];
  py::Ref refs = py::new_list(0);
  if (!refs)
    return nullptr;
  dag->reserve(static_cast<std::size_t>(PyList_Size(nodes)), 0);
  // Re-measured each step: a finaliser run by an allocation could change the list.
  for (Py_ssize_t i = 0; i < PyList_Size(nodes); ++i) {
    interrupt::poll();  // between items: a signal keeps the ones before, as an error would
    const py::Ref item = py::Ref::borrow(PyList_GetItem(nodes, i));
    PyNodePayload record;
    auto name = node_item(item.get(), record);
    if (!name) {
      PyErr_Clear();
      return py::type_error(kNodeFormError);
    }
    Result<NodeHandle> handle = dag->add_node(std::string(*name), std::move(record));
    if (!handle)
      return into_pyerr(handle.error());
    PyObject* given = PyUnicode_Check(item.get()) ? item.get() : PyTuple_GetItem(item.get(), 0);
    py::Ref ref = make_node_ref(handle_name(given, *handle), handle->epoch);
    if (!ref || !py::list_append(refs.get(), ref))
      return nullptr;
  }
  return refs.release();
}

// --- add_edge / add_edges ------------------------------------------------------------------

constexpr py::Param kAddEdgeParams[] = {py::required("from_node"), py::required("to_node"),
                                        py::optional("weight"), py::optional("label")};

PyObject* add_edge(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* argv[4];
  if (!py::parse_args("DAG.add_edge()", kAddEdgeParams, args, nargs, kwnames, argv))
    return nullptr;
  ExclusiveDAG dag(self);
  if (!dag)
    return nullptr;
  auto from = node_arg(argv[0], "from_node");
  if (!from)
    return nullptr;
  auto to = node_arg(argv[1], "to_node");
  if (!to)
    return nullptr;
  std::optional<double> weight;
  if (!py::is_absent(argv[2])) {
    weight = py::float_arg(argv[2], "weight");
    if (!weight)
      return nullptr;
  }
  std::optional<std::string_view> label;
  if (!py::is_absent(argv[3])) {
    label = py::str_arg(argv[3], "label");
    if (!label)
      return nullptr;
  }
  Status status = insert_edge(*dag, *from, *to, weight, label);
  if (!status)
    return into_pyerr(status.error());
  return py::none();
}

struct EdgeItem {
  NodeArg from;
  NodeArg to;
  std::optional<double> weight;
  std::optional<std::string_view> label;
};

// One item of add_edges: (from, to), (from, to, weight) or (from, to, weight, label).
std::optional<EdgeItem> edge_item(PyObject* item) {
  if (!PyTuple_Check(item))
    return std::nullopt;
  const Py_ssize_t size = PyTuple_Size(item);
  if (size < 2 || size > 4)
    return std::nullopt;
  auto from = extract_node_arg(PyTuple_GetItem(item, 0));
  if (!from)
    return std::nullopt;
  auto to = extract_node_arg(PyTuple_GetItem(item, 1));
  if (!to)
    return std::nullopt;
  EdgeItem edge{std::move(*from), std::move(*to), std::nullopt, std::nullopt};
  if (size >= 3) {
    PyObject* weight = PyTuple_GetItem(item, 2);
    if (weight == Py_None)
      return std::nullopt;
    const double value = PyFloat_AsDouble(weight);
    if (value == -1.0 && PyErr_Occurred())
      return std::nullopt;
    edge.weight = value;
  }
  if (size == 4) {
    PyObject* label = PyTuple_GetItem(item, 3);
    if (!PyUnicode_Check(label))
      return std::nullopt;
    edge.label = py::utf8(label);
    if (!edge.label)
      return std::nullopt;
  }
  return edge;
}

constexpr py::Param kAddEdgesParams[] = {py::required("edges")};

// How many plain items in a row pay for a pass over the whole graph, and whether their searches
// are expected to cost more than that pass: at the searches' recent cost per edge (a search
// visits a node or edge at about twice what the pass pays for it), or, when that is low, at a
// quarter of the graph's edges, which pays for the pass whatever the searches cost. Shorter
// stretches are checked edge by edge, so a few edges never cost a pass over a large graph,
// however many calls bring them.
struct PassWorth {
  Py_ssize_t items;
  bool searches_cost_more;
};

PassWorth pass_worth(const CoreDAG& dag) {
  constexpr double kMinBatch = 256;
  const double pass = static_cast<double>(dag.node_count() + dag.edge_count());
  double items = static_cast<double>(dag.edge_count()) / 4;
  const double per_edge = 2 * dag.recent_search_work();
  const bool searches_cost_more = per_edge * items > pass;
  if (searches_cost_more)
    items = pass / per_edge;
  return {static_cast<Py_ssize_t>(std::ceil(std::max(kMinBatch, items))), searches_cost_more};
}

// Whether converting `item` surely runs no Python code: no endpoint is a str subclass with a
// __str__ written in Python, and its weight, if any, is a float, an int or a NumPy real scalar
// without a __float__ or __index__ written in Python (other numbers written in C may call back
// into Python). An item of no edge form runs none either (it fails at once). Runs no Python
// code itself.
bool converts_without_python(PyObject* item) {
  // The common item first, with the type tests that cost no call.
  const bool exact = PyTuple_CheckExact(item);
  if (!exact && !PyTuple_Check(item))
    return true;
  const Py_ssize_t size = PyTuple_Size(item);
  if (exact && size == 2 && PyUnicode_CheckExact(PyTuple_GetItem(item, 0)) &&
      PyUnicode_CheckExact(PyTuple_GetItem(item, 1))) {
    return true;
  }
  if (size < 2 || size > 4)
    return true;
  if (naming_runs_python(PyTuple_GetItem(item, 0)) || naming_runs_python(PyTuple_GetItem(item, 1)))
    return false;
  return size < 3 || py::to_double_is_plain(PyTuple_GetItem(item, 2));
}

// The index of the first item of the `limit` from `first` on whose conversion may run Python
// code, or the index after them (at most the list's length) when there is none.
Py_ssize_t next_item_running_python(PyObject* edges, Py_ssize_t first, Py_ssize_t limit) {
  // The first look at each item: its tuple, then the tuple's endpoints, are requested a few items
  // ahead, so that their misses overlap.
  constexpr Py_ssize_t kStep = 4;
  const Py_ssize_t end = std::min(PyList_Size(edges), first + limit);
  Py_ssize_t i = first;
  for (; i < end; ++i) {
    if (i + 2 * kStep < end)
      __builtin_prefetch(PyList_GetItem(edges, i + 2 * kStep));
    if (i + kStep < end) {
      PyObject* ahead = PyList_GetItem(edges, i + kStep);
      if (PyTuple_CheckExact(ahead) && PyTuple_Size(ahead) >= 2) {
        __builtin_prefetch(PyTuple_GetItem(ahead, 0));
        __builtin_prefetch(PyTuple_GetItem(ahead, 1));
      }
    }
    if (!converts_without_python(PyList_GetItem(edges, i)))
      break;
  }
  return i;
}

// The two endpoints of item i when it is an exact tuple of str objects (or subclasses whose str()
// is C code; their own text is a good enough hint), else nulls. Runs no Python code.
std::pair<PyObject*, PyObject*> plain_ends(PyObject* edges, Py_ssize_t i) {
  if (i >= PyList_Size(edges))
    return {nullptr, nullptr};
  PyObject* item = PyList_GetItem(edges, i);
  if (!PyTuple_CheckExact(item) || PyTuple_Size(item) < 2)
    return {nullptr, nullptr};
  PyObject* from = PyTuple_GetItem(item, 0);
  PyObject* to = PyTuple_GetItem(item, 1);
  for (PyObject* end : {from, to}) {
    if (!PyUnicode_Check(end) || py::str_runs_python(end))
      return {nullptr, nullptr};
  }
  return {from, to};
}

// Memory-level parallelism for long lists: each item's memory is requested a few items before
// its turn, in stages (the tuple, then its str objects, then their index entries), so that the
// misses of several items overlap. Looks only at exact tuples of str objects; changes nothing.
void prefetch_ahead(const CoreDAG& dag, PyObject* edges, Py_ssize_t i) {
  constexpr Py_ssize_t kStep = 4;
  if (i + 4 * kStep < PyList_Size(edges))
    __builtin_prefetch(PyList_GetItem(edges, i + 4 * kStep));
  if (i + 3 * kStep < PyList_Size(edges)) {
    PyObject* item = PyList_GetItem(edges, i + 3 * kStep);
    if (PyTuple_CheckExact(item) && PyTuple_Size(item) >= 2) {
      __builtin_prefetch(PyTuple_GetItem(item, 0));
      __builtin_prefetch(PyTuple_GetItem(item, 1));
    }
  }
  // The names' index entries. (Looking the names up here, to reach their nodes as well, costs
  // more than it saves.)
  auto [from, to] = plain_ends(edges, i + 2 * kStep);
  if (!from)
    return;
  for (PyObject* end : {from, to}) {
    auto name = py::utf8(end);
    if (!name) {
      PyErr_Clear();  // the item's own turn reports it
      continue;
    }
    dag.prefetch_name(*name);
  }
}

constexpr std::uint64_t kUnlimitedSearch = ~std::uint64_t{0};

// Converts and inserts the items from `first` on, in order, until one fails, each checked on its
// own until the searches have visited `searches` nodes and edges, the rest at once at the end;
// the outcome is that of one add_edge per item. Items after the first unchecked one are converted
// before it is checked, so the batch ends before an item whose conversion may run Python code
// (which must run after the items ahead of it went in): nothing is returned then, and `next` is
// that item. Otherwise the method's result (null with the error set).
std::optional<PyObject*> add_edges_as_batch(CoreDAG& dag, PyObject* edges, Py_ssize_t first,
                                            std::uint64_t searches, Py_ssize_t& next) {
  EdgeBatch batch(dag, searches, &kWithoutGil);
  bool malformed = false;
  bool interrupted = false;
  py::Ref stopping;  // a KeyboardInterrupt or the like from an item's conversion
  Status read;
  next = PyList_Size(edges);
  for (Py_ssize_t i = first; i < PyList_Size(edges); ++i) {
    // Stops like a failing item, so the items before are checked and kept.
    if (interrupt::stop_requested()) {
      interrupted = true;
      break;
    }
    prefetch_ahead(dag, edges, i);
    const py::Ref item = py::Ref::borrow(PyList_GetItem(edges, i));
    if (!converts_without_python(item.get())) {
      next = i;
      break;
    }
    std::optional<EdgeItem> edge = edge_item(item.get());
    if (!edge) {
      // An error that is no Exception (KeyboardInterrupt, SystemExit) is the call's outcome
      // unless the items before fail first; it is set aside while they are checked.
      if (PyErr_Occurred() && !PyErr_ExceptionMatches(PyExc_Exception)) {
        stopping = py::Ref::steal(PyErr_GetRaisedException());
        break;
      }
      PyErr_Clear();
      malformed = true;
      break;
    }
    auto from = into_name(edge->from, dag);
    auto to = from ? into_name(edge->to, dag) : Result<std::string_view>(from.error());
    if (!to) {
      read = to.error();
      break;
    }
    std::optional<std::string> label;
    if (edge->label)
      label.emplace(*edge->label);
    read = batch.add(*from, *to, edge->weight, std::move(label));
    if (!read)
      break;
  }
  Status checked = py::without_gil([&] { return batch.finish(); });
  if (interrupted)
    return nullptr;  // the signal handler's exception wins over what the check found
  if (!checked)
    return into_pyerr(checked.error());
  if (stopping) {
    PyErr_SetRaisedException(stopping.release());
    return nullptr;
  }
  if (malformed)
    return py::type_error(kEdgeFormError);
  if (!read)
    return into_pyerr(read.error());
  if (next < PyList_Size(edges))
    return std::nullopt;
  return py::none();
}

PyObject* add_edges(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* argv[1];
  if (!py::parse_args("DAG.add_edges()", kAddEdgesParams, args, nargs, kwnames, argv))
    return nullptr;
  ExclusiveDAG dag(self);
  if (!dag)
    return nullptr;
  if (!py::list_arg(argv[0], "edges"))
    return nullptr;
  PyObject* edges = argv[0];
  dag->reserve(0, static_cast<std::size_t>(PyList_Size(edges)));
  // Stretches of items whose conversion runs no Python code go in as batches, each edge checked
  // on its own by the incremental order. Its searches cost more than linear time in unlucky
  // orders: once they have cost about as much as one check of the whole graph would, the rest of
  // a stretch long enough to pay for that check is left to it, so no list costs more than about
  // two such checks. (A node or edge visited by a search costs a few times what it costs the
  // check's sequential passes.) An item whose conversion may run Python code goes in alone,
  // after the items before it.
  const std::uint64_t budget =
      (dag->node_count() + dag->edge_count() + static_cast<std::uint64_t>(PyList_Size(edges))) / 4;
  const std::uint64_t work_before = dag->search_work();
  // The list is re-measured each step: a str subclass's __str__ or a number's __float__ may
  // run Python code that changes it.
  for (Py_ssize_t i = 0; i < PyList_Size(edges); ++i) {
    interrupt::poll();
    if (converts_without_python(PyList_GetItem(edges, i))) {
      // Looks no further ahead than a pass needs: the batch finds the next such item itself.
      const PassWorth worth = pass_worth(*dag);
      // A list too short for a pass needs no look.
      const bool pays_for_a_pass =
          PyList_Size(edges) - i >= worth.items &&
          next_item_running_python(edges, i, worth.items) - i >= worth.items;
      const std::uint64_t spent = dag->search_work() - work_before;
      std::uint64_t searches = kUnlimitedSearch;
      if (pays_for_a_pass)
        searches = worth.searches_cost_more || spent >= budget ? 0 : budget - spent;
      Py_ssize_t next = i;
      if (std::optional<PyObject*> done = add_edges_as_batch(*dag, edges, i, searches, next))
        return *done;
      i = next;  // the items before it went in
    }
    const py::Ref item = py::Ref::borrow(PyList_GetItem(edges, i));
    std::optional<EdgeItem> edge = edge_item(item.get());
    if (!edge) {
      py::drop_callback_error();  // an error that is no Exception stops the call as it is
      return py::type_error(kEdgeFormError);
    }
    Status status = insert_edge(*dag, edge->from, edge->to, edge->weight, edge->label);
    if (!status)
      return into_pyerr(status.error());
  }
  return py::none();
}

// --- removal -------------------------------------------------------------------------------

constexpr py::Param kRemoveNodeParams[] = {py::required("node")};

PyObject* remove_node(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* argv[1];
  if (!py::parse_args("DAG.remove_node()", kRemoveNodeParams, args, nargs, kwnames, argv))
    return nullptr;
  ExclusiveDAG dag(self);
  if (!dag)
    return nullptr;
  auto node = node_arg(argv[0], "node");
  if (!node)
    return nullptr;
  Result<std::string_view> name = into_name(*node, *dag);
  if (!name)
    return into_pyerr(name.error());
  Status status = dag->remove_node(*name);
  if (!status)
    return into_pyerr(status.error());
  return py::none();
}

constexpr py::Param kRemoveEdgeParams[] = {py::required("from_node"), py::required("to_node")};

PyObject* remove_edge(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* argv[2];
  if (!py::parse_args("DAG.remove_edge()", kRemoveEdgeParams, args, nargs, kwnames, argv))
    return nullptr;
  ExclusiveDAG dag(self);
  if (!dag)
    return nullptr;
  auto ends = named_nodes(argv, "from_node", "to_node", *dag);
  if (!ends)
    return nullptr;
  Status status = dag->remove_edge(ends->first.name, ends->second.name);
  if (!status)
    return into_pyerr(status.error());
  return py::none();
}

// --- builder -------------------------------------------------------------------------------

PyObject* builder(PyObject* /*no self*/) {
  py::Ref module_name = py::str("torvex.builder");
  if (!module_name)
    return nullptr;
  py::Ref module =
      py::Ref::steal(py::calling_python([&] { return PyImport_Import(module_name.get()); }));
  if (!module)
    return nullptr;
  py::Ref factory = py::Ref::steal(PyObject_GetAttrString(module.get(), "DAGBuilder"));
  if (!factory)
    return nullptr;
  return py::calling_python([&] { return PyObject_CallNoArgs(factory.get()); });
}

const py::BlockRegistrar kConstructionBlock{
    "DAG",
    {.methods = {
         py::method<add_node>(
             "add_node",
             "add_node($self, name, payload=None, metadata=None)\n--\n\n"
             "Add a single node to the graph.\n\n"
             "Args:\n"
             "    name: Unique name for the node.\n"
             "    payload: Optional arbitrary Python object to associate with the node.\n"
             "    metadata: Optional metadata Python object.\n\n"
             "Returns:\n"
             "    A NodeRef for the newly created node. NodeRef is a stable handle\n"
             "    that can be passed to any method that accepts a node identifier.\n\n"
             "Raises:\n"
             "    DuplicateNodeError: If a node with this name already exists."),
         py::method<node_ref>("node_ref",
                              "node_ref($self, name)\n--\n\n"
                              "Look up the current NodeRef for a given name, returning None if no\n"
                              "node with that name exists."),
         py::method<add_nodes>(
             "add_nodes",
             "add_nodes($self, nodes)\n--\n\n"
             "Add multiple nodes at once. More efficient than repeated add_node calls.\n\n"
             "Args:\n"
             "    nodes: List of node names (strings) or (name, payload) tuples or (name, "
             "payload, metadata) tuples.\n\n"
             "Returns:\n"
             "    List of NodeRef objects.\n\n"
             "Raises:\n"
             "    DuplicateNodeError: If any node name already exists."),
         py::method<add_edge>(
             "add_edge",
             "add_edge($self, from_node, to_node, weight=None, label=None)\n--\n\n"
             "Add a directed edge from one node to another.\n\n"
             "Args:\n"
             "    from_node: Source node \xE2\x80\x94 accepts either a string name or a NodeRef.\n"
             "    to_node: Target node \xE2\x80\x94 accepts either a string name or a NodeRef.\n"
             "    weight: Optional edge weight (default 1.0).\n"
             "    label: Optional edge label.\n\n"
             "Raises:\n"
             "    NodeNotFoundError: If either node doesn't exist.\n"
             "    StaleNodeRefError: If a NodeRef points to a removed/replaced node.\n"
             "    CycleError: If the edge would create a cycle."),
         py::method<add_edges>(
             "add_edges",
             "add_edges($self, edges)\n--\n\n"
             "Add multiple edges at once.\n\n"
             "Args:\n"
             "    edges: List of (from, to) tuples (either strings or NodeRefs),\n"
             "           optionally with weight and label.\n\n"
             "Raises:\n"
             "    NodeNotFoundError: If any referenced node doesn't exist.\n"
             "    CycleError: If any edge would create a cycle."),
         py::method<remove_node>("remove_node",
                                 "remove_node($self, node)\n--\n\n"
                                 "Remove a node and all its incident edges.\n\n"
                                 "Args:\n"
                                 "    node: Node to remove (str or NodeRef).\n\n"
                                 "Raises:\n"
                                 "    NodeNotFoundError: If the node doesn't exist."),
         py::method<remove_edge>("remove_edge",
                                 "remove_edge($self, from_node, to_node)\n--\n\n"
                                 "Remove an edge between two nodes.\n\n"
                                 "Args:\n"
                                 "    from_node: Source node (str or NodeRef).\n"
                                 "    to_node: Target node (str or NodeRef).\n\n"
                                 "Raises:\n"
                                 "    NodeNotFoundError: If either node doesn't exist.\n"
                                 "    EdgeNotFoundError: If no edge exists between the nodes."),
         py::static_method<builder>("builder",
                                    "builder()\n--\n\n"
                                    "Create a new DAGBuilder for fluent DAG construction.\n\n"
                                    "Returns:\n"
                                    "    A new DAGBuilder instance."),
     }}};

}  // namespace
}  // namespace torvex::binding
