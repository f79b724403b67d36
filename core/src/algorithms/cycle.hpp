// Cycle test for a new edge, and strongly connected components.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "errors.hpp"
#include "graph/stable_graph.hpp"
#include "lists.hpp"

namespace torvex::algorithms {

// Reusable search state for would_create_cycle, so that each call costs only what it visits.
struct CycleScratch {
  std::vector<std::uint32_t> mark;
  std::vector<NodeIndex> parent;
  std::vector<NodeIndex> queue;
  std::uint32_t stamp = 0;
};

// Would an edge from -> to close a cycle? Returns the shortest path from `to` to `from` found by
// a breadth-first search along outgoing edges (newest edge first), or nothing.
// from == to gives the one-node path [from]. `scratch`, when given, is reused between calls.
// Complexity: O(nodes reachable from `to` and their out-edges); stops at the first edge into from.
std::optional<IndexList> would_create_cycle(const StableGraph& graph, NodeIndex from, NodeIndex to,
                                            CycleScratch* scratch = nullptr);

// Tarjan's strongly connected components: searches start from live slots in index order and follow
// outgoing lists in list order; components in completion order, nodes in finishing order with the
// component's root last. Iterative.
struct Components {
  IndexList nodes;  // every component's nodes, one component after another
  std::vector<std::size_t>
      starts;  // component i is nodes[starts[i], starts[i + 1]); ends with size
  std::size_t count() const noexcept { return starts.size() - 1; }
};
Components tarjan_scc(const StableGraph& graph);

// True (ok) when the graph has no cycle; otherwise Cycle "Graph contains {} cycle(s): [{}]"
// naming each non-trivial component (or self-loop) in Tarjan's order.
Status validate_acyclic(const StableGraph& graph);

}  // namespace torvex::algorithms
