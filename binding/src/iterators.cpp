// Lazy iterators over node snapshots.
//
//   class NodeIterator:                  # yields NodeId
//       def __iter__(self): return self
//       def __next__(self) -> NodeId: ...
//       def __len__(self) -> int: ...    # the total, whatever has been consumed
//       def collect(self) -> list[NodeId]: ...  # the remaining items; exhausts the iterator
//       def __repr__(self): return f"NodeIterator(total={n}, remaining={m})"
//
//   class NodeLevelIterator:             # the same, yielding one list of NodeId per level
//       def __repr__(self): return f"NodeLevelIterator(total_levels={n}, remaining={m})"
#include <span>
#include <string>

#include "iterator_objects.hpp"
#include "node_objects.hpp"

namespace torvex::binding {
namespace {

std::vector<NodeId> snapshot(const StableGraph& graph, const IndexList& indices) {
  std::vector<NodeId> items;
  items.reserve(indices.size());
  for (NodeIndex i : indices)
    items.push_back(NodeId{std::string(graph.name(i)), i});
  return items;
}

// Shared between both classes: `Items` points to the snapshot sequence of C's value and Make
// turns one of its elements into a new object.
template <class C, auto Items, auto Make>
struct IteratorMethods {
  static PyObject* iter(PyObject* self) {
    py::Shared<C> it(self);
    if (!it)
      return nullptr;
    return py::new_ref(self);
  }

  static PyObject* next(PyObject* self) {
    py::Exclusive<C> it(self);
    if (!it)
      return nullptr;
    const auto& items = (*it).*Items;
    // Exhaustion: no object and no exception, which CPython reads as StopIteration.
    if (it->position >= items.size())
      return nullptr;
    py::Ref item = Make(items[it->position]);
    if (item)
      ++it->position;
    return item.release();
  }

  static Py_ssize_t length(PyObject* self) {
    py::Shared<C> it(self);
    if (!it)
      return -1;
    return static_cast<Py_ssize_t>(((*it).*Items).size());
  }

  static PyObject* collect(PyObject* self) {
    py::Exclusive<C> it(self);
    if (!it)
      return nullptr;
    const auto& items = (*it).*Items;
    py::Ref list = py::list_of(std::span(items).subspan(it->position), Make);
    if (list)
      it->position = items.size();
    return list.release();
  }

  static PyObject* repr(PyObject* self, const char* prefix) {
    py::Shared<C> it(self);
    if (!it)
      return nullptr;
    const std::size_t total = ((*it).*Items).size();
    return py::str(prefix + std::to_string(total) +
                   ", remaining=" + std::to_string(total - it->position) + ")")
        .release();
  }
};

py::Ref make_item(const NodeId& id) {
  return make_node_id(id);
}
py::Ref make_level(const std::vector<NodeId>& level) {
  return node_id_list(level);
}

using Nodes = IteratorMethods<PyNodeIterator, &NodeIteratorValue::items, &make_item>;
using NodeLevels =
    IteratorMethods<PyNodeLevelIterator, &NodeLevelIteratorValue::levels, &make_level>;

PyObject* node_iterator_repr(PyObject* self) {
  return Nodes::repr(self, "NodeIterator(total=");
}
PyObject* node_level_iterator_repr(PyObject* self) {
  return NodeLevels::repr(self, "NodeLevelIterator(total_levels=");
}

const py::ClassRegistrar<PyNodeIterator> kNodeIteratorClass{
    {.doc = "A lazy iterator over nodes that defers PyNodeId creation to __next__."}};
const py::BlockRegistrar kNodeIteratorBlock{
    "NodeIterator",
    {.methods = {py::method<Nodes::collect>(
         "collect", "collect($self)\n--\n\nCollect all remaining items into a list.")},
     .slots = {py::slot<Py_tp_iter, Nodes::iter>(), py::slot<Py_tp_iternext, Nodes::next>(),
               py::slot<Py_mp_length, Nodes::length>(),
               py::slot<Py_tp_repr, node_iterator_repr>()}}};

const py::ClassRegistrar<PyNodeLevelIterator> kNodeLevelIteratorClass{
    {.doc = "A lazy iterator over topological levels.\n"
            "Each call to __next__ returns a list of PyNodeId for one level."}};
const py::BlockRegistrar kNodeLevelIteratorBlock{
    "NodeLevelIterator",
    {.methods = {py::method<NodeLevels::collect>(
         "collect", "collect($self)\n--\n\nCollect all remaining levels into a list of lists.")},
     .slots = {py::slot<Py_tp_iter, NodeLevels::iter>(),
               py::slot<Py_tp_iternext, NodeLevels::next>(),
               py::slot<Py_mp_length, NodeLevels::length>(),
               py::slot<Py_tp_repr, node_level_iterator_repr>()}}};

}  // namespace

PyObject* make_node_iterator(const StableGraph& graph, const IndexList& indices) {
  return py::make<PyNodeIterator>(NodeIteratorValue{snapshot(graph, indices), 0});
}

PyObject* make_node_level_iterator(const StableGraph& graph, const Levels& levels) {
  std::vector<std::vector<NodeId>> snapshots;
  snapshots.reserve(levels.size());
  for (const IndexList& level : levels)
    snapshots.push_back(snapshot(graph, level));
  return py::make<PyNodeLevelIterator>(NodeLevelIteratorValue{std::move(snapshots), 0});
}

}  // namespace torvex::binding
