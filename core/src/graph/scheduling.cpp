// The scheduling topic: cost and priority maps by name, bottom levels, critical path, plans.
#include "graph/scheduling.hpp"

#include "algorithms/priority_toposort.hpp"
#include "interrupt.hpp"

namespace torvex {

std::vector<std::pair<std::string, double>> bottom_levels(const GraphStore& store,
                                                          const CostMap& costs) {
  const StableGraph& graph = store.graph();
  const algorithms::BottomLevels bottom =
      algorithms::compute_bottom_levels(graph, names_to_indices(store, costs));
  std::vector<std::pair<std::string, double>> out;
  if (bottom.empty())
    return out;
  out.reserve(graph.node_count());
  for (NodeIndex n = 0; n < graph.node_bound(); ++n) {
    interrupt::poll();
    if (graph.is_live(n))
      out.emplace_back(std::string(graph.name(n)), bottom[n]);
  }
  return out;
}

Result<NamedCriticalPath> critical_path(const GraphStore& store, const CostMap& costs) {
  TORVEX_TRY(found, algorithms::critical_path(store.graph(), names_to_indices(store, costs)));
  return NamedCriticalPath{store.node_ids(found.path), found.length};
}

Result<std::vector<NodeId>> topological_sort_priority(const GraphStore& store,
                                                      const CostMap& priorities) {
  TORVEX_TRY(order, algorithms::topological_sort_priority(
                        store.graph(), names_to_indices(store, priorities, 0.0)));
  return store.node_ids(order);
}

Result<std::vector<std::vector<NodeId>>> topological_levels_priority(const GraphStore& store,
                                                                     const CostMap& priorities) {
  TORVEX_TRY(levels, algorithms::topological_levels_priority(
                         store.graph(), names_to_indices(store, priorities, 0.0)));
  std::vector<std::vector<NodeId>> out;
  out.reserve(levels.size());
  for (const IndexList& level : levels)
    out.push_back(store.node_ids(level));
  return out;
}

Result<ExecutionPlanResult> execution_plan(const GraphStore& store, const CostMap& costs) {
  TORVEX_TRY(plan,
             algorithms::max_parallelism_schedule(store.graph(), names_to_indices(store, costs)));
  return convert_plan(store, std::move(plan));
}

Result<ExecutionPlanResult> execution_plan_constrained(const GraphStore& store,
                                                       std::size_t max_workers,
                                                       const CostMap& costs) {
  TORVEX_TRY(plan, algorithms::resource_constrained_schedule(
                       store.graph(), names_to_indices(store, costs), max_workers));
  return convert_plan(store, std::move(plan));
}

ExecutionPlanResult convert_plan(const GraphStore& store, algorithms::IndexedExecutionPlan plan) {
  const StableGraph& graph = store.graph();
  ExecutionPlanResult out;
  out.steps.reserve(plan.steps.size());
  for (const algorithms::ExecutionStep& step : plan.steps) {
    ExecutionStepResult converted;
    converted.step_index = step.step_index;
    converted.nodes.reserve(step.nodes.size());
    for (const algorithms::IndexedScheduledNode& s : step.nodes) {
      interrupt::poll();
      converted.nodes.push_back(
          {NodeId{std::string(graph.name(s.node)), s.node}, s.start_time, s.duration});
    }
    out.steps.push_back(std::move(converted));
  }
  if (plan.critical_path)
    out.critical_path = store.node_ids(*plan.critical_path);
  out.total_nodes = plan.total_nodes;
  out.max_parallelism = plan.max_parallelism;
  out.estimated_makespan = plan.estimated_makespan;
  return out;
}

}  // namespace torvex
