#include "algorithms/scheduling.hpp"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <utility>

#include "algorithms/toposort.hpp"
#include "interrupt.hpp"

namespace torvex::algorithms {

namespace {

TorvexError cycle() {
  return TorvexError::cycle(kGraphHasCycle);
}

// In-degree of every slot, parallel edges counted each.
std::vector<std::uint64_t> in_degrees(const StableGraph& graph) {
  std::vector<std::uint64_t> degree(graph.node_bound(), 0);
  for (NodeIndex n = 0; n < graph.node_bound(); ++n) {
    interrupt::poll();
    if (graph.is_live(n))
      graph.for_each_successor(n, [&](NodeIndex v) { ++degree[v]; });
  }
  return degree;
}

// Any topological order (no name sorting: bottom levels do not depend on the order), or nothing
// when the graph holds a cycle.
std::optional<IndexList> any_topological_order(const StableGraph& graph) {
  std::vector<std::uint64_t> degree = in_degrees(graph);
  IndexList order;  // doubles as the FIFO queue
  order.reserve(graph.node_count());
  for (NodeIndex n = 0; n < graph.node_bound(); ++n) {
    if (graph.is_live(n) && degree[n] == 0)
      order.push_back(n);
  }
  for (std::size_t head = 0; head < order.size(); ++head) {
    interrupt::poll();
    graph.for_each_successor(order[head], [&](NodeIndex v) {
      if (--degree[v] == 0)
        order.push_back(v);
    });
  }
  if (order.size() != graph.node_count())
    return std::nullopt;
  return order;
}

// Is a preferred over b: greater value by the total order, then the smaller name?
bool preferred(const StableGraph& graph, double value_a, NodeIndex a, double value_b, NodeIndex b) {
  const std::int64_t ka = total_order_key(value_a);
  const std::int64_t kb = total_order_key(value_b);
  if (ka != kb)
    return ka > kb;
  return name_less(graph.name(a), graph.name(b));
}

std::optional<IndexList> optional_path(IndexList path) {
  if (path.empty())
    return std::nullopt;
  return path;
}

// The bounded-worker simulation: start time of every live slot.
class ListScheduler {
 public:
  ListScheduler(const StableGraph& graph, const NodeValues& costs, const BottomLevels& bottom,
                std::size_t workers)
      : graph_(graph),
        costs_(costs),
        bottom_(bottom),
        workers_(workers),
        degree_(in_degrees(graph)),
        earliest_(graph.node_bound(), 0.0),
        start_(graph.node_bound(), 0.0) {}

  // Runs the passes; afterwards start_time(n) holds each live node's start.
  void run() {
    seed_ready();
    std::size_t scheduled = 0;
    double now = 0.0;
    while (scheduled < graph_.node_count()) {
      interrupt::poll();
      // Fill the free workers from the ready heap.
      while (!ready_.empty() && running_.size() < workers_) {
        const NodeIndex n = pop_ready();
        const double start = max_num(now, earliest_[n]);
        start_[n] = start;
        ++scheduled;
        push_running(start + costs_[n], n);
      }
      // Finish exactly one task and release its successors.
      if (running_.empty()) {
        if (ready_.empty())
          break;
        continue;
      }
      const auto [finish, n] = pop_running();
      now = finish;  // may move back when a negative cost made `finish` smaller
      graph_.for_each_successor(n, [&](NodeIndex s) {
        if (now > earliest_[s])
          earliest_[s] = now;
        if (--degree_[s] == 0)
          push_ready(s);
      });
    }
  }

  double start_time(NodeIndex n) const noexcept { return start_[n]; }

 private:
  struct Ready {
    std::int64_t priority;
    std::string_view name;
    NodeIndex node;
  };
  struct Running {
    std::int64_t finish_key;
    double finish;
    NodeIndex node;
  };
  // Max-heap: greater bottom level, then smaller name, then greater index.
  static bool ready_less(const Ready& a, const Ready& b) noexcept {
    if (a.priority != b.priority)
      return a.priority < b.priority;
    if (a.name != b.name)
      return name_less(b.name, a.name);
    return a.node < b.node;
  }
  // Min-heap through std::push_heap: earlier finish, then smaller index.
  static bool running_greater(const Running& a, const Running& b) noexcept {
    if (a.finish_key != b.finish_key)
      return a.finish_key > b.finish_key;
    return a.node > b.node;
  }

  void seed_ready() {
    for (NodeIndex n = 0; n < graph_.node_bound(); ++n) {
      if (graph_.is_live(n) && degree_[n] == 0)
        push_ready(n);
    }
  }
  void push_ready(NodeIndex n) {
    ready_.push_back({total_order_key(bottom_[n]), graph_.name(n), n});
    std::push_heap(ready_.begin(), ready_.end(), ready_less);
  }
  NodeIndex pop_ready() {
    std::pop_heap(ready_.begin(), ready_.end(), ready_less);
    const NodeIndex n = ready_.back().node;
    ready_.pop_back();
    return n;
  }
  void push_running(double finish, NodeIndex n) {
    running_.push_back({total_order_key(finish), finish, n});
    std::push_heap(running_.begin(), running_.end(), running_greater);
  }
  std::pair<double, NodeIndex> pop_running() {
    std::pop_heap(running_.begin(), running_.end(), running_greater);
    const Running top = running_.back();
    running_.pop_back();
    return {top.finish, top.node};
  }

  const StableGraph& graph_;
  const NodeValues& costs_;
  const BottomLevels& bottom_;
  std::size_t workers_;
  std::vector<std::uint64_t> degree_;
  std::vector<double> earliest_;
  std::vector<double> start_;
  std::vector<Ready> ready_;
  std::vector<Running> running_;
};

}  // namespace

BottomLevels compute_bottom_levels(const StableGraph& graph, const NodeValues& costs) {
  std::optional<IndexList> order = any_topological_order(graph);
  if (!order || order->empty())
    return {};
  BottomLevels bottom(graph.node_bound(), 0.0);
  // Successors come later in a topological order, so a backward walk sees them first.
  for (auto it = order->rbegin(); it != order->rend(); ++it) {
    interrupt::poll();
    const NodeIndex n = *it;
    double m = 0.0;
    graph.for_each_successor(n, [&](NodeIndex v) { m = max_num(m, bottom[v]); });
    bottom[n] = costs[n] + m;
  }
  return bottom;
}

Result<CriticalPath> critical_path(const StableGraph& graph, const NodeValues& costs) {
  const BottomLevels bottom = compute_bottom_levels(graph, costs);
  if (graph.node_count() == 0)
    return CriticalPath{};
  if (bottom.empty())
    return cycle();

  NodeIndex start = kEnd;
  for (NodeIndex n = 0; n < graph.node_bound(); ++n) {
    if (!graph.is_live(n))
      continue;
    if (start == kEnd || preferred(graph, bottom[n], n, bottom[start], start))
      start = n;
  }

  CriticalPath result;
  result.length = bottom[start];
  result.path.push_back(start);
  for (NodeIndex current = start;;) {
    NodeIndex best = kEnd;
    graph.for_each_successor(current, [&](NodeIndex v) {
      if (best == kEnd || preferred(graph, bottom[v], v, bottom[best], best))
        best = v;
    });
    if (best == kEnd)
      break;
    result.path.push_back(best);
    current = best;
  }
  return result;
}

Result<IndexedExecutionPlan> max_parallelism_schedule(const StableGraph& graph,
                                                      const NodeValues& costs) {
  TORVEX_TRY(levels, topological_levels(graph));
  TORVEX_TRY(critical, critical_path(graph, costs));

  IndexedExecutionPlan plan;
  plan.steps.reserve(levels.size());
  double t = 0.0;
  for (std::size_t i = 0; i < levels.size(); ++i) {
    ExecutionStep step;
    step.step_index = i;
    step.nodes.reserve(levels[i].size());
    double level_duration = 0.0;
    // Levels come in name order, which is the order of a step.
    for (NodeIndex n : levels[i]) {
      interrupt::poll();
      step.nodes.push_back({n, t, costs[n]});
      level_duration = max_num(level_duration, costs[n]);
    }
    plan.max_parallelism = std::max(plan.max_parallelism, step.nodes.size());
    plan.total_nodes += step.nodes.size();
    plan.steps.push_back(std::move(step));
    t += level_duration;
  }
  plan.critical_path = optional_path(std::move(critical.path));
  plan.estimated_makespan = critical.length;
  return plan;
}

Result<IndexedExecutionPlan> resource_constrained_schedule(const StableGraph& graph,
                                                           const NodeValues& costs,
                                                           std::size_t max_workers) {
  const BottomLevels bottom = compute_bottom_levels(graph, costs);
  if (graph.node_count() == 0)
    return IndexedExecutionPlan{};
  if (bottom.empty())
    return cycle();

  ListScheduler scheduler(graph, costs, bottom, std::max<std::size_t>(max_workers, 1));
  scheduler.run();

  // Group by start time: sorting by (start, name) puts each group together, in name order.
  // Starts are never NaN or -0.0, so equal keys are equal values.
  IndexList nodes;
  nodes.reserve(graph.node_count());
  for (NodeIndex n = 0; n < graph.node_bound(); ++n) {
    if (graph.is_live(n))
      nodes.push_back(n);
  }
  std::sort(nodes.begin(), nodes.end(), interrupt::polling([&](NodeIndex a, NodeIndex b) {
              const std::int64_t ka = total_order_key(scheduler.start_time(a));
              const std::int64_t kb = total_order_key(scheduler.start_time(b));
              if (ka != kb)
                return ka < kb;
              return name_less(graph.name(a), graph.name(b));
            }));

  IndexedExecutionPlan plan;
  for (std::size_t begin = 0; begin < nodes.size();) {
    const double start = scheduler.start_time(nodes[begin]);
    ExecutionStep step;
    step.step_index = plan.steps.size();
    std::size_t end = begin;
    for (; end < nodes.size() &&
           total_order_key(scheduler.start_time(nodes[end])) == total_order_key(start);
         ++end) {
      interrupt::poll();
      step.nodes.push_back({nodes[end], start, costs[nodes[end]]});
    }
    plan.max_parallelism = std::max(plan.max_parallelism, step.nodes.size());
    plan.total_nodes += step.nodes.size();
    plan.steps.push_back(std::move(step));
    begin = end;
  }

  TORVEX_TRY(critical, critical_path(graph, costs));
  plan.critical_path = optional_path(std::move(critical.path));
  plan.estimated_makespan = critical.length;
  return plan;
}

}  // namespace torvex::algorithms
