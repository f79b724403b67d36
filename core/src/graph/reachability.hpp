// The reachability topic: a snapshot index answering by name, with its own name map.
#pragma once

#include <boost/unordered/unordered_flat_map.hpp>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "algorithms/reachability.hpp"
#include "errors.hpp"
#include "graph/dag.hpp"
#include "hash.hpp"

namespace torvex {

// A reachability index with the names of the graph at build time. It keeps no reference to the
// graph: removed nodes still answer as they were, nodes added later are unknown, and a name that
// was removed and added again answers for the node it named at build time.
// Immutable after build; movable, not copyable (the name map points into the name list).
class NamedReachabilityIndex {
 public:
  NamedReachabilityIndex(NamedReachabilityIndex&&) noexcept = default;
  NamedReachabilityIndex& operator=(NamedReachabilityIndex&&) noexcept = default;
  NamedReachabilityIndex(const NamedReachabilityIndex&) = delete;
  NamedReachabilityIndex& operator=(const NamedReachabilityIndex&) = delete;

  // Whether `to` is reachable from `from` (a node reaches itself).
  // Errors: NodeNotFound for a name not in the index, `from` first. Complexity: O(1).
  Result<bool> can_reach(std::string_view from, std::string_view to) const;
  // Names reachable from `node`, itself excluded, in the Kahn order of the build.
  // Returns: views valid while the index lives. Errors: NodeNotFound.
  // Complexity: O(V/64 + results).
  Result<std::vector<std::string_view>> reachable_from(std::string_view node) const;
  // Names that reach `node`, itself excluded, in the Kahn order of the build.
  // Returns: views valid while the index lives. Errors: NodeNotFound. Complexity: O(V).
  Result<std::vector<std::string_view>> ancestors_of(std::string_view node) const;
  // Live nodes at build time.
  std::size_t node_count() const noexcept { return index_.node_count(); }

  const algorithms::ReachabilityIndex& index() const noexcept { return index_; }

 private:
  friend Result<NamedReachabilityIndex> build_reachability_index(const GraphStore& store);
  NamedReachabilityIndex(algorithms::ReachabilityIndex index, std::vector<std::string> names);

  Result<NodeIndex> resolve(std::string_view name) const;
  std::vector<std::string_view> names_of(const IndexList& nodes) const;

  algorithms::ReachabilityIndex index_;
  std::vector<std::string> names_;  // by position in the build's order
  // Views into names_: a vector's move keeps its elements in place.
  boost::unordered_flat_map<std::string_view, NodeIndex, SeededStringHash, std::equal_to<>>
      by_name_;
};

// Snapshots the graph's reachability and names.
// Errors: Cycle "Graph contains a cycle" (not for a graph of the store, which is acyclic).
// Throws: std::bad_alloc when the rows (about V²/8 bytes) cannot be had.
// Complexity: O(V + E · V/64) time; V²/8 bytes plus the names.
Result<NamedReachabilityIndex> build_reachability_index(const GraphStore& store);

}  // namespace torvex
