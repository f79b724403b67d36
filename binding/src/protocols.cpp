// Container behaviour of DAG. Keys of `in`, item access and item assignment are names only.
//
//   class DAG:
//       def __len__(self) -> int: ...             # live nodes
//       def __bool__(self) -> bool: ...
//       def __repr__(self): return f"DAG(nodes={n}, edges={m})"
//       def __iter__(self): return iter(self.node_names())   # a snapshot
//       def __contains__(self, name: str) -> bool: ...
//       def __getitem__(self, name: str): ...     # the stored payload or None
//       def __setitem__(self, name: str, value): ...  # replaces the payload (None included)
//       def __delitem__(self, name): raise NotImplementedError("can't delete item")
//       def node_names(self) -> list[str]: ...    # slot order
//       def edges(self) -> list[tuple[str, str]]: ...   # edge slot order
#include <string>
#include <vector>

#include "dag_object.hpp"
#include "exceptions.hpp"
#include "interrupt.hpp"
#include "node_objects.hpp"

namespace torvex::binding {
namespace {

py::Ref node_name_list(const CoreDAG& dag) {
  const StableGraph& graph = dag.graph();
  py::Ref list = py::new_list(graph.node_count());
  if (!list)
    return {};
  std::size_t position = 0;
  for (NodeIndex n = 0; n < graph.node_bound(); ++n) {
    interrupt::poll();
    if (!graph.is_live(n))
      continue;
    py::Ref name = py::str(graph.name(n));
    if (!name)
      return {};
    py::list_set(list.get(), position++, std::move(name));
  }
  return list;
}

PyObject* node_names(const CoreDAG& dag) {
  return node_name_list(dag).release();
}

PyObject* edges(const CoreDAG& dag) {
  const StableGraph& graph = dag.graph();
  // One str per node, shared by all tuples that name it.
  std::vector<py::Ref> names(graph.node_bound());
  auto name_of = [&](NodeIndex n) -> const py::Ref& {
    if (!names[n])
      names[n] = py::str(graph.name(n));
    return names[n];
  };
  py::Ref list = py::new_list(graph.edge_count());
  if (!list)
    return nullptr;
  std::size_t position = 0;
  for (EdgeIndex e = 0; e < graph.edge_bound(); ++e) {
    interrupt::poll();  // millions of tuples: a signal is seen while they are made
    if (!graph.is_edge_live(e))
      continue;
    const py::Ref& source = name_of(graph.edge_source(e));
    const py::Ref& target = name_of(graph.edge_target(e));
    if (!source || !target)
      return nullptr;
    py::Ref pair = py::new_tuple(2);
    if (!pair)
      return nullptr;
    py::tuple_set(pair.get(), 0, source);
    py::tuple_set(pair.get(), 1, target);
    py::list_set(list.get(), position++, std::move(pair));
  }
  return list.release();
}

Py_ssize_t length(const CoreDAG& dag) {
  return static_cast<Py_ssize_t>(dag.node_count());
}

int truth(const CoreDAG& dag) {
  return dag.node_count() > 0 ? 1 : 0;
}

PyObject* repr(const CoreDAG& dag) {
  return py::str("DAG(nodes=" + std::to_string(dag.node_count()) +
                 ", edges=" + std::to_string(dag.edge_count()) + ")")
      .release();
}

PyObject* iterate(PyObject* self) {
  // The borrow ends with the list: iterating it never touches the graph.
  py::Ref names = py::Ref::steal(with_shared<node_names>(self));
  if (!names)
    return nullptr;
  return PyObject_GetIter(names.get());
}

// The key of `in`, item access and item assignment: a str (the "PyString" TypeError otherwise),
// looked up as a node argument's name is.
std::optional<std::string_view> key_name(PyObject* key, py::Ref& keep) {
  if (!PyUnicode_Check(key)) {
    py::conversion_error(key, "PyString");
    py::argument_error("name");
    return std::nullopt;
  }
  return lookup_name(key, keep);
}

int contains(PyObject* self, PyObject* key) {
  SharedDAG dag(self);
  if (!dag)
    return -1;
  py::Ref keep;
  auto name = key_name(key, keep);
  if (!name)
    return -1;
  return dag->contains(*name) ? 1 : 0;
}

PyObject* get_item(PyObject* self, PyObject* key) {
  SharedDAG dag(self);
  if (!dag)
    return nullptr;
  py::Ref keep;
  auto name = key_name(key, keep);
  if (!name)
    return nullptr;
  Result<const PyNodePayload*> record = dag->get_payload(*name);
  if (!record)
    return into_pyerr(record.error());
  return object_or_none((*record)->payload);
}

int set_item(PyObject* self, PyObject* key, PyObject* value) {
  if (value == nullptr) {
    py::raise(PyExc_NotImplementedError, "can't delete item");
    return -1;
  }
  ExclusiveDAG dag(self);
  if (!dag)
    return -1;
  py::Ref keep;
  auto name = key_name(key, keep);
  if (!name)
    return -1;
  // Stored as given: None here is a payload object, not an absent one.
  py::DeferredRef payload = py::DeferredRef::borrow(value);
  Result<PyNodePayload*> record = dag->get_payload_mut(*name);
  if (!record) {
    into_pyerr(record.error());
    return -1;
  }
  (*record)->payload.swap(payload);
  return 0;
}

const py::BlockRegistrar kProtocolsBlock{
    "DAG",
    {.methods = {py::method<with_shared<node_names>>(
                     "node_names", "node_names($self)\n--\n\nGet a list of all node names."),
                 py::method<with_shared<edges>>(
                     "edges",
                     "edges($self)\n--\n\n"
                     "Get a list of all edges as (from_name, to_name) tuples.")},
     .slots = {py::slot<Py_mp_length, with_shared<length>>(), py::slot<Py_sq_contains, contains>(),
               py::slot<Py_mp_subscript, get_item>(), py::slot<Py_tp_iter, iterate>(),
               py::slot<Py_tp_repr, with_shared<repr>>(),
               py::slot<Py_nb_bool, with_shared<truth>>(),
               py::slot<Py_mp_ass_subscript, set_item>()}}};

}  // namespace
}  // namespace torvex::binding
