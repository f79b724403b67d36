// Node-cost scheduling: bottom levels, the critical path, and execution plans with unlimited or
// bounded workers. Only node costs count; edge weights play no part.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "algorithms/costs.hpp"
#include "errors.hpp"
#include "graph/stable_graph.hpp"
#include "lists.hpp"

namespace torvex::algorithms {

// Bottom level of every slot (the node's cost plus the greatest bottom level among its
// successors, that maximum starting at 0.0 and ignoring NaN), indexed by slot; vacant slots
// hold 0.0. Empty when the graph has no node or holds a cycle.
using BottomLevels = std::vector<double>;

struct CriticalPath {
  IndexList path;  // first element = start node
  double length = 0.0;
};

struct IndexedScheduledNode {
  NodeIndex node = 0;
  double start_time = 0.0;
  double duration = 0.0;
};

struct ExecutionStep {
  std::vector<IndexedScheduledNode> nodes;  // in name order
  std::size_t step_index = 0;
};

struct IndexedExecutionPlan {
  std::vector<ExecutionStep> steps;
  std::optional<IndexList> critical_path;  // absent only for a graph without nodes
  std::size_t total_nodes = 0;
  std::size_t max_parallelism = 0;  // size of the largest step
  double estimated_makespan = 0.0;  // the critical path's length, not the simulated end
};

// Bottom levels under `costs`.
// Returns: empty for an empty or cyclic graph (no error of its own).
// Complexity: O(V + E) time and space.
BottomLevels compute_bottom_levels(const StableGraph& graph, const NodeValues& costs);

// The path that descends from the node of greatest bottom level (IEEE total order; among equal
// maxima the smallest name), always to the successor of greatest bottom level (ties: smaller
// name). Its length is the start's bottom level. An empty graph gives an empty path and 0.0.
// Errors: Cycle "Graph contains a cycle".
// Complexity: O(V + E).
Result<CriticalPath> critical_path(const StableGraph& graph, const NodeValues& costs);

// Unlimited workers: one step per topological level; a level starts when the longest task of
// the previous level (maxNum of the durations, at least 0.0) has ended.
// Errors: Cycle "Graph contains a cycle".
// Complexity: O(V log V + E).
Result<IndexedExecutionPlan> max_parallelism_schedule(const StableGraph& graph,
                                                      const NodeValues& costs);

// At most max_workers tasks at once (0 acts as 1): an event-driven list scheduler that starts
// ready tasks by descending bottom level (ties: smaller name), then finishes exactly one task
// per pass (earliest finish, ties: smaller index). Steps group the nodes by start time.
// Errors: Cycle "Graph contains a cycle".
// Complexity: O((V + E) log V) time, O(V) extra space.
Result<IndexedExecutionPlan> resource_constrained_schedule(const StableGraph& graph,
                                                           const NodeValues& costs,
                                                           std::size_t max_workers);

}  // namespace torvex::algorithms
