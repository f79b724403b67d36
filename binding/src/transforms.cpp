// Transforms: new graphs derived from this one, and the dominator tree.
//
//   class DAG:
//       def reverse(self) -> DAG: ...                        # every edge flipped, data kept
//       def collapse(self, nodes, collapsed_name, payload=None) -> DAG: ...
//       def dominator_tree(self, root) -> list[tuple[str, str]]: ...  # lock released
//       def snapshot(self) -> DAG: ...                       # takes this graph's generation
//       def transitive_reduction(self) -> DAG: ...           # analysis with the lock released
//       def transitive_closure(self) -> DAG: ...             # analysis with the lock released
//       def filter(self, predicate) -> DAG: ...              # predicate(name, payload) -> bool
//       def merge(self, other, conflict="keep_first", conflict_resolver=None) -> DAG: ...
//
// None of them changes the graph it is called on. New graphs share payload objects with their
// sources. A failure drops the half-built graph, which releases every reference it took.
// Predicates and resolvers run with the lock held and this graph (and `other`) borrowed, so a
// callback may read the graphs but any attempt to change them fails with the borrow error.
#include "algorithms/transforms.hpp"

#include <boost/unordered/unordered_flat_set.hpp>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "clone.hpp"
#include "dag_object.hpp"
#include "exceptions.hpp"
#include "graph/transforms.hpp"
#include "interrupt.hpp"
#include "node_objects.hpp"
#include "node_sequence.hpp"

namespace torvex::binding {
namespace {

// --- helpers -------------------------------------------------------------------------------

// Whether a parameter is a DAG; the framework's TypeError for the parameter otherwise.
bool other_dag_arg(PyObject* obj, const char* param) {
  if (py::is_instance<PyDAG>(obj))
    return true;
  py::conversion_error(obj, "DAG");
  py::argument_error(param);
  return false;
}

// The value of a callback's result as Python's strict bool: True or False, or a NumPy boolean
// scalar by its truth value. Anything else (1, a non-empty list) is refused.
std::optional<bool> strict_bool(PyObject* obj) {
  if (PyBool_Check(obj))
    return obj == Py_True;
  PyTypeObject* type = Py_TYPE(obj);
  py::Ref module =
      py::Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"));
  py::Ref name =
      py::Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__name__"));
  PyErr_Clear();
  const bool is_numpy_bool = module && name && PyUnicode_Check(module.get()) &&
                             PyUnicode_Check(name.get()) &&
                             PyUnicode_CompareWithASCIIString(module.get(), "numpy") == 0 &&
                             (PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
                              PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0);
  if (!is_numpy_bool) {
    py::conversion_error(obj, "PyBool");
    return std::nullopt;
  }
  const int truth = PyObject_IsTrue(obj);
  if (truth < 0)
    return std::nullopt;
  return truth != 0;
}

// Calls callable(name, *payloads) positionally, each payload the stored object or None. The
// arguments stay referenced across the call, whatever the callable does to the graphs.
py::Ref call_with_payloads(PyObject* callable, std::string_view name,
                           std::initializer_list<const py::DeferredRef*> payloads) {
  py::Ref args[3];
  args[0] = py::str(name);
  if (!args[0])
    return {};
  std::size_t count = 1;
  for (const py::DeferredRef* payload : payloads)
    args[count++] = py::Ref::borrow(*payload ? payload->get() : Py_None);
  PyObject* raw[3] = {args[0].get(), args[1].get(), args[2].get()};
  return py::Ref::steal(
      py::calling_python([&] { return PyObject_Vectorcall(callable, raw, count, nullptr); }));
}

// A new graph holding copies of every node of `source`, with the slot map source -> copy.
NewDAG copy_of_nodes(const CoreDAG& source, std::vector<NodeIndex>& slots) {
  NewDAG out = new_dag();
  if (out && !clone_nodes(source, *out.graph, &slots))
    out.object.reset();
  return out;
}

// --- reverse / snapshot --------------------------------------------------------------------

PyObject* reverse(PyObject* self) {
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  std::vector<NodeIndex> slots;
  NewDAG out = copy_of_nodes(*dag, slots);
  if (!out)
    return nullptr;
  const StableGraph& graph = dag->graph();
  EdgeCopier copier(*out.graph);
  for (EdgeIndex e = 0; e < graph.edge_bound(); ++e) {
    interrupt::poll();
    if (!graph.is_edge_live(e))
      continue;
    Status status = copier.add(slots[graph.edge_target(e)], slots[graph.edge_source(e)],
                               graph.edge_weight(e), graph.edge_label(e));
    if (!status)
      return into_pyerr(status.error());
  }
  if (Status status = copier.finish(); !status)
    return into_pyerr(status.error());
  return out.object.release();
}

PyObject* snapshot(PyObject* self) {
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  std::vector<NodeIndex> slots;
  NewDAG out = copy_of_nodes(*dag, slots);
  if (!out || !clone_edges(*dag, *out.graph, slots))
    return nullptr;
  out.graph->set_generation(dag->generation());
  return out.object.release();
}

// --- closure / reduction -------------------------------------------------------------------

PyObject* transitive_reduction(PyObject* self) {
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  const StableGraph& graph = dag->graph();
  algorithms::NodePairSet redundant =
      py::without_gil([&] { return algorithms::transitive_reduction_redundant_edges(graph); });
  std::vector<NodeIndex> slots;
  NewDAG out = copy_of_nodes(*dag, slots);
  if (!out)
    return nullptr;
  EdgeCopier copier(*out.graph);
  for (EdgeIndex e = 0; e < graph.edge_bound(); ++e) {
    interrupt::poll();
    if (!graph.is_edge_live(e))
      continue;
    const NodeIndex from = graph.edge_source(e);
    const NodeIndex to = graph.edge_target(e);
    if (redundant.contains(from, to))
      continue;
    Status status = copier.add(slots[from], slots[to], graph.edge_weight(e), graph.edge_label(e));
    if (!status)
      return into_pyerr(status.error());
  }
  if (Status status = copier.finish(); !status)
    return into_pyerr(status.error());
  return out.object.release();
}

PyObject* transitive_closure(PyObject* self) {
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  const StableGraph& graph = dag->graph();
  std::vector<algorithms::NodePair> added =
      py::without_gil([&] { return algorithms::transitive_closure_new_edges(graph); });
  std::vector<NodeIndex> slots;
  NewDAG out = copy_of_nodes(*dag, slots);
  if (!out || !clone_edges(*dag, *out.graph, slots))
    return nullptr;
  EdgeCopier copier(*out.graph);
  for (const auto& [from, to] : added) {
    interrupt::poll();
    Status status = copier.add(slots[from], slots[to], std::nullopt, nullptr);
    if (!status)
      return into_pyerr(status.error());
  }
  if (Status status = copier.finish(); !status)
    return into_pyerr(status.error());
  return out.object.release();
}

// --- dominator_tree ------------------------------------------------------------------------

constexpr py::Param kDominatorParams[] = {py::required("root")};

PyObject* dominator_tree(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
  /* parse arguments */
  PyObject* argv[1];
  if (!py::parse_args("DAG.dominator_tree()", kDominatorParams, args, nargs, kwnames, argv))
    return nullptr;
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  /* convert */
  auto root = named_node(argv[0], "root", *dag);
  if (!root)
    return nullptr;
  /* call the core with the lock released */
  auto tree = py::without_gil([&] { return torvex::dominator_tree(*dag, root->name); });
  if (!tree)
    return into_pyerr(tree.error());
  /* build the result */
  py::Ref list = py::new_list(tree->size());
  if (!list)
    return nullptr;
  for (std::size_t i = 0; i < tree->size(); ++i) {
    interrupt::poll();
    py::Ref node = py::str((*tree)[i].first);
    py::Ref dominator = py::str((*tree)[i].second);
    py::Ref pair = py::new_tuple(2);
    if (!node || !dominator || !pair)
      return nullptr;
    py::tuple_set(pair.get(), 0, std::move(node));
    py::tuple_set(pair.get(), 1, std::move(dominator));
    py::list_set(list.get(), i, std::move(pair));
  }
  return list.release();
}

// --- filter --------------------------------------------------------------------------------

constexpr py::Param kFilterParams[] = {py::required("predicate")};

PyObject* filter(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* argv[1];
  if (!py::parse_args("DAG.filter()", kFilterParams, args, nargs, kwnames, argv))
    return nullptr;
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  const py::Ref predicate = py::Ref::borrow(argv[0]);
  NewDAG out = new_dag();
  if (!out)
    return nullptr;
  // The borrow keeps the graph as it is while the predicate runs, so slots stay valid.
  const StableGraph& graph = dag->graph();
  std::vector<NodeIndex> slots(graph.node_bound(), kEnd);
  for (NodeIndex n = 0; n < graph.node_bound(); ++n) {
    interrupt::poll();  // a predicate written in C runs no signal handler
    if (!graph.is_live(n))
      continue;
    const PyNodePayload& record = dag->payload(n);
    py::Ref verdict = call_with_payloads(predicate.get(), graph.name(n), {&record.payload});
    if (!verdict)
      return nullptr;
    std::optional<bool> keep = strict_bool(verdict.get());
    if (!keep)
      return nullptr;
    if (!*keep)
      continue;
    Result<NodeIndex> copy = clone_node(*dag, n, *out.graph);
    if (!copy)
      return into_pyerr(copy.error());
    slots[n] = *copy;
  }
  if (!clone_edges(*dag, *out.graph, slots))
    return nullptr;
  return out.object.release();
}

// --- merge ---------------------------------------------------------------------------------

enum class Conflict { KeepFirst, KeepSecond, Error, Resolver };

std::optional<Conflict> conflict_mode(std::string_view text) {
  if (text == "keep_first")
    return Conflict::KeepFirst;
  if (text == "keep_second")
    return Conflict::KeepSecond;
  if (text == "error")
    return Conflict::Error;
  return std::nullopt;
}

// Settles a name present in both graphs: `kept` is the record already in the new graph.
// False with the error set when the strategy or the resolver fails.
bool settle_conflict(Conflict mode, PyObject* resolver, std::string_view name, PyNodePayload& kept,
                     const PyNodePayload& incoming) {
  switch (mode) {
    case Conflict::KeepFirst:
      return true;
    case Conflict::KeepSecond:
      kept = clone_payload(incoming);
      return true;
    case Conflict::Error:
      into_pyerr(TorvexError::duplicate_node(std::string(name)));
      return false;
    case Conflict::Resolver:
      break;
  }
  py::Ref chosen = call_with_payloads(resolver, name, {&kept.payload, &incoming.payload});
  if (!chosen)
    return false;
  kept.payload =
      chosen.get() == Py_None ? py::DeferredRef() : py::DeferredRef::steal(chosen.release());
  return true;
}

constexpr py::Param kMergeParams[] = {py::required("other"), py::optional("conflict"),
                                      py::optional("conflict_resolver")};

PyObject* merge(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  /* parse arguments */
  PyObject* argv[3];
  if (!py::parse_args("DAG.merge()", kMergeParams, args, nargs, kwnames, argv))
    return nullptr;
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  /* convert, in parameter order */
  if (!other_dag_arg(argv[0], "other"))
    return nullptr;
  SharedDAG other(argv[0]);  // may be self: two shared borrows
  if (!other)
    return nullptr;
  const py::Ref other_object = py::Ref::borrow(argv[0]);
  std::string_view conflict = "keep_first";
  if (argv[1] != nullptr) {
    auto text = py::str_arg(argv[1], "conflict");
    if (!text)
      return nullptr;
    conflict = *text;
  }
  const py::Ref resolver = py::is_absent(argv[2]) ? py::Ref() : py::Ref::borrow(argv[2]);
  /* choose the mode before building anything */
  Conflict mode = Conflict::Resolver;
  if (!resolver) {
    auto chosen = conflict_mode(conflict);
    if (!chosen) {
      return py::raise(PyExc_ValueError,
                       "Invalid conflict strategy: '" + std::string(conflict) +
                           "'. Expected 'keep_first', 'keep_second', or 'error'.");
    }
    mode = *chosen;
  }
  /* this graph's nodes, then the other's, settling shared names */
  std::vector<NodeIndex> my_slots;
  NewDAG out = copy_of_nodes(*dag, my_slots);
  if (!out)
    return nullptr;
  const StableGraph& theirs = other->graph();
  std::vector<NodeIndex> their_slots(theirs.node_bound(), kEnd);
  for (NodeIndex n = 0; n < theirs.node_bound(); ++n) {
    interrupt::poll();
    if (!theirs.is_live(n))
      continue;
    const std::string_view name = theirs.name(n);
    if (std::optional<NodeIndex> existing = out.graph->find(name)) {
      their_slots[n] = *existing;
      if (!settle_conflict(mode, resolver.get(), name, out.graph->payload(*existing),
                           other->payload(n))) {
        return nullptr;
      }
      continue;
    }
    Result<NodeIndex> copy = clone_node(*other, n, *out.graph);
    if (!copy)
      return into_pyerr(copy.error());
    their_slots[n] = *copy;
  }
  /* this graph's edges, then the other's that add a new pair */
  if (!clone_edges(*dag, *out.graph, my_slots))
    return nullptr;
  EdgeCopier copier(*out.graph);
  for (EdgeIndex e = 0; e < theirs.edge_bound(); ++e) {
    interrupt::poll();
    if (!theirs.is_edge_live(e))
      continue;
    const NodeIndex from = their_slots[theirs.edge_source(e)];
    const NodeIndex to = their_slots[theirs.edge_target(e)];
    // The edges added so far count too: a pair repeated within the other graph goes in once.
    if (out.graph->graph().find_edge(from, to) != kEnd)
      continue;
    Status status = copier.add(from, to, theirs.edge_weight(e), theirs.edge_label(e));
    if (!status)
      return into_pyerr(status.error());
  }
  if (Status status = copier.finish(); !status)
    return into_pyerr(status.error());
  return out.object.release();
}

// --- collapse ------------------------------------------------------------------------------

constexpr py::Param kCollapseParams[] = {py::required("nodes"), py::required("collapsed_name"),
                                         py::optional("payload")};

PyObject* collapse(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  /* parse arguments */
  PyObject* argv[3];
  if (!py::parse_args("DAG.collapse()", kCollapseParams, args, nargs, kwnames, argv))
    return nullptr;
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  /* convert, in parameter order */
  auto nodes = node_args(argv[0], "nodes");
  if (!nodes)
    return nullptr;
  auto collapsed_name = py::str_arg(argv[1], "collapsed_name");
  if (!collapsed_name)
    return nullptr;
  PyNodePayload summary;
  if (!py::is_absent(argv[2]))
    summary.payload = py::DeferredRef::borrow(argv[2]);
  /* handles first, then every name must exist: nothing is built before both pass */
  auto names = arg_names(*nodes, *dag);
  if (!names)
    return nullptr;
  const StableGraph& graph = dag->graph();
  std::vector<bool> collapsed(graph.node_bound(), false);
  for (const std::string& name : *names) {
    interrupt::poll();
    Result<NodeIndex> index = dag->resolve_name(name);
    if (!index)
      return into_pyerr(index.error());
    collapsed[*index] = true;
  }
  /* survivors in slot order, then the summary node */
  NewDAG out = new_dag();
  if (!out)
    return nullptr;
  std::vector<NodeIndex> slots(graph.node_bound(), kEnd);
  for (NodeIndex n = 0; n < graph.node_bound(); ++n) {
    interrupt::poll();
    if (!graph.is_live(n) || collapsed[n])
      continue;
    Result<NodeIndex> copy = clone_node(*dag, n, *out.graph);
    if (!copy)
      return into_pyerr(copy.error());
    slots[n] = *copy;
  }
  Result<NodeHandle> summary_added =
      out.graph->add_node(std::string(*collapsed_name), std::move(summary));
  if (!summary_added)
    return into_pyerr(summary_added.error());
  const NodeIndex summary_slot = *out.graph->find(*collapsed_name);
  /* edges redirected to the summary node; the first edge of each resulting pair wins */
  boost::unordered_flat_set<std::uint64_t> added_pairs;
  EdgeCopier copier(*out.graph);  // a collapse may close a cycle: the batch reports its first edge
  for (EdgeIndex e = 0; e < graph.edge_bound(); ++e) {
    interrupt::poll();
    if (!graph.is_edge_live(e))
      continue;
    const NodeIndex source = graph.edge_source(e);
    const NodeIndex target = graph.edge_target(e);
    if (collapsed[source] && collapsed[target])
      continue;
    const NodeIndex from = collapsed[source] ? summary_slot : slots[source];
    const NodeIndex to = collapsed[target] ? summary_slot : slots[target];
    if (from == to || !added_pairs.insert((std::uint64_t{from} << 32) | to).second)
      continue;
    Status status = copier.add(from, to, graph.edge_weight(e), graph.edge_label(e));
    if (!status)
      return into_pyerr(status.error());
  }
  if (Status status = copier.finish(); !status)
    return into_pyerr(status.error());
  return out.object.release();
}

// --- registration --------------------------------------------------------------------------

const py::BlockRegistrar kTransformsBlock{
    "DAG",
    {.methods = {
         py::method<reverse>("reverse",
                             "reverse($self)\n--\n\n"
                             "Return a new DAG with all edges reversed.\n\n"
                             "Same nodes, all edges flipped (A->B becomes B->A).\n"
                             "Edge weights and labels are preserved on the reversed edge."),
         py::method<collapse>(
             "collapse",
             "collapse($self, nodes, collapsed_name, payload=None)\n--\n\n"
             "Collapse a set of nodes into a single summary node.\n\n"
             "Internal edges (both endpoints in the collapse set) are dropped.\n"
             "External edges are redirected to/from the collapsed node.\n\n"
             "Raises:\n"
             "    NodeNotFoundError: If any node in the list doesn't exist.\n"
             "    DuplicateNodeError: If collapsed_name collides with a surviving node."),
         py::method<dominator_tree>("dominator_tree",
                                    "dominator_tree($self, root)\n--\n\n"
                                    "Compute the dominator tree rooted at the given node.\n\n"
                                    "Returns:\n"
                                    "    A list of (node, immediate_dominator) tuples."),
         py::method<snapshot>("snapshot",
                              "snapshot($self)\n--\n\n"
                              "Create an independent snapshot (deep clone) of this DAG.\n\n"
                              "The snapshot copies all nodes (including payloads and metadata),\n"
                              "edges, and the generation counter. It starts with a fresh cache."),
         py::method<transitive_reduction>(
             "transitive_reduction",
             "transitive_reduction($self)\n--\n\n"
             "Return a new DAG that is the transitive reduction of this one.\n\n"
             "Removes all redundant edges (edges implied by longer paths)."),
         py::method<transitive_closure>(
             "transitive_closure",
             "transitive_closure($self)\n--\n\n"
             "Return a new DAG that is the transitive closure of this one.\n\n"
             "Adds direct edges for all reachable pairs. New edges get weight 1.0\n"
             "and no label. Existing edges keep their weights and labels."),
         py::method<filter>("filter",
                            "filter($self, predicate)\n--\n\n"
                            "Return a new DAG containing only nodes that satisfy the predicate.\n\n"
                            "The predicate is called with (name, payload) for each node.\n"
                            "Edges between surviving nodes are preserved."),
         py::method<merge>(
             "merge",
             "merge($self, other, conflict=\"keep_first\", conflict_resolver=None)\n--\n\n"
             "Merge this DAG with another, returning a new combined DAG.\n\n"
             "Args:\n"
             "    other: The DAG to merge with this one.\n"
             "    conflict: Strategy for node names present in both DAGs:\n"
             "        \"keep_first\" (default): keep this DAG's payload.\n"
             "        \"keep_second\": keep the other DAG's payload.\n"
             "        \"error\": raise DuplicateNodeError on conflicts.\n"
             "    conflict_resolver: Optional callable(name, payload1, payload2) -> payload\n"
             "        for custom conflict resolution. If provided, overrides the `conflict` "
             "parameter.\n\n"
             "Raises:\n"
             "    CycleError: If the combined edges would create a cycle.\n"
             "    DuplicateNodeError: If conflict=\"error\" and node names overlap."),
     }}};

}  // namespace
}  // namespace torvex::binding
