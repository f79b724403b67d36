// The scheduling topic by name: costs and priorities keyed by node name, results as NodeIds.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "algorithms/costs.hpp"
#include "algorithms/scheduling.hpp"
#include "graph/dag.hpp"
#include "node.hpp"

namespace torvex {

struct ScheduledNodeId {
  NodeId node;
  double start_time = 0.0;
  double duration = 0.0;
};

struct ExecutionStepResult {
  std::vector<ScheduledNodeId> nodes;  // in name order
  std::size_t step_index = 0;
};

struct ExecutionPlanResult {
  std::vector<ExecutionStepResult> steps;
  std::optional<std::vector<NodeId>> critical_path;  // absent only for a graph without nodes
  std::size_t total_nodes = 0;
  std::size_t max_parallelism = 0;
  double estimated_makespan = 0.0;
};

struct NamedCriticalPath {
  std::vector<NodeId> path;
  double length = 0.0;
};

// Every node's bottom level, as (name, value) in slot order.
// Returns: an empty list for an empty graph (a cyclic one, which the store never holds, too).
// Complexity: O(V + E).
std::vector<std::pair<std::string, double>> bottom_levels(const GraphStore& store,
                                                          const CostMap& costs);

// The critical path from the node of greatest bottom level, and its length.
// Errors: Cycle "Graph contains a cycle".
Result<NamedCriticalPath> critical_path(const GraphStore& store, const CostMap& costs);

// The priority-driven order; nodes without a priority have 0.0.
// Errors: Cycle "Graph contains a cycle".
Result<std::vector<NodeId>> topological_sort_priority(const GraphStore& store,
                                                      const CostMap& priorities);

// The topological levels, each ordered by descending priority, then name.
// Errors: Cycle "Graph contains a cycle".
Result<std::vector<std::vector<NodeId>>> topological_levels_priority(const GraphStore& store,
                                                                     const CostMap& priorities);

// The plan with unlimited workers, one step per topological level.
// Errors: Cycle "Graph contains a cycle".
Result<ExecutionPlanResult> execution_plan(const GraphStore& store, const CostMap& costs);

// The plan with at most max_workers tasks running at once (0 acts as 1).
// Errors: Cycle "Graph contains a cycle".
Result<ExecutionPlanResult> execution_plan_constrained(const GraphStore& store,
                                                       std::size_t max_workers,
                                                       const CostMap& costs);

// The name form of an index plan made from this store's live nodes.
ExecutionPlanResult convert_plan(const GraphStore& store, algorithms::IndexedExecutionPlan plan);

}  // namespace torvex
