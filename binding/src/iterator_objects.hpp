// NodeIterator and NodeLevelIterator: snapshots of node lists that make their NodeId objects
// one step at a time. They keep no reference to the graph they came from.
#pragma once

#include <cstddef>
#include <vector>

#include "framework/framework.hpp"
#include "graph/dag.hpp"
#include "node.hpp"

namespace torvex::binding {

struct NodeIteratorValue {
  std::vector<NodeId> items;
  std::size_t position = 0;
};
struct PyNodeIterator {
  using Value = NodeIteratorValue;
  static constexpr bool kFrozen = false;
  static constexpr const char* kName = "NodeIterator";
};

struct NodeLevelIteratorValue {
  std::vector<std::vector<NodeId>> levels;
  std::size_t position = 0;
};
struct PyNodeLevelIterator {
  using Value = NodeLevelIteratorValue;
  static constexpr bool kFrozen = false;
  static constexpr const char* kName = "NodeLevelIterator";
};

// New iterators over snapshots taken from `graph` (names copied now). New reference or null.
PyObject* make_node_iterator(const StableGraph& graph, const IndexList& indices);
PyObject* make_node_level_iterator(const StableGraph& graph, const Levels& levels);

}  // namespace torvex::binding
