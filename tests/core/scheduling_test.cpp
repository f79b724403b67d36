#include "graph/scheduling.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <sstream>

#include "test_support.hpp"

namespace torvex {
namespace {

using testing::add_edges;
using testing::add_nodes;
using testing::TestDag;
using Names = std::vector<std::string>;
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

Names names(const std::vector<NodeId>& ids) {
  Names out;
  for (const NodeId& id : ids)
    out.push_back(id.name);
  return out;
}

// Steps as "a@0 b@0 | c@1", to compare a whole schedule at a glance.
std::string describe(const ExecutionPlanResult& plan) {
  std::ostringstream out;
  for (const ExecutionStepResult& step : plan.steps) {
    out << (step.step_index ? " | " : "");
    for (const ScheduledNodeId& s : step.nodes) {
      out << (&s == &step.nodes[0] ? "" : " ") << s.node.name << '@' << s.start_time;
    }
  }
  return out.str();
}

std::map<std::string, double> bottom_map(const GraphStore& dag, const CostMap& costs) {
  auto levels = bottom_levels(dag, costs);
  return {levels.begin(), levels.end()};
}

ExecutionPlanResult constrained(const GraphStore& dag, std::size_t workers, const CostMap& costs) {
  return execution_plan_constrained(dag, workers, costs).value();
}

// Under non-negative costs: every node once, steps in start order and in name order, no node
// before its predecessors end, and with `workers` given never more tasks of positive duration
// running at once.
void check_plan(const TestDag& dag, const ExecutionPlanResult& plan, std::size_t workers = 0) {
  std::map<NodeIndex, ScheduledNodeId> by_node;
  std::size_t widest = 0;
  for (std::size_t i = 0; i < plan.steps.size(); ++i) {
    const auto& nodes = plan.steps[i].nodes;
    ASSERT_EQ(plan.steps[i].step_index, i);
    widest = std::max(widest, nodes.size());
    for (std::size_t j = 0; j < nodes.size(); ++j) {
      EXPECT_TRUE(j == 0 || nodes[j - 1].node.name < nodes[j].node.name);
      EXPECT_EQ(nodes[j].start_time, nodes[0].start_time);
      EXPECT_TRUE(by_node.emplace(nodes[j].node.index, nodes[j]).second);
    }
    EXPECT_TRUE(i == 0 || plan.steps[i - 1].nodes[0].start_time < nodes[0].start_time);
  }
  EXPECT_EQ(by_node.size(), dag.node_count());
  EXPECT_EQ(plan.total_nodes, dag.node_count());
  EXPECT_EQ(plan.max_parallelism, widest);
  for (auto [from, to] : dag.edges()) {
    const auto &a = by_node.at(from), &b = by_node.at(to);
    EXPECT_GE(b.start_time, a.start_time + a.duration) << a.node.name << " -> " << b.node.name;
  }
  for (const auto& [n, probe] : by_node) {
    std::size_t running = 0;
    for (const auto& [m, s] : by_node) {
      const double t = probe.start_time;
      running += s.duration > 0 && s.start_time <= t && t < s.start_time + s.duration;
    }
    EXPECT_TRUE(workers == 0 || running <= workers) << running << " at " << probe.start_time;
  }
}

TEST(BottomLevels, DiamondAndChain) {
  TestDag dag;
  add_nodes(dag, {"a", "b", "c", "d"});
  add_edges(dag, {{"a", "b"}, {"a", "c"}, {"b", "d"}, {"c", "d"}});
  EXPECT_EQ(bottom_map(dag, {}),
            (std::map<std::string, double>{{"a", 3}, {"b", 2}, {"c", 2}, {"d", 1}}));
  auto path = critical_path(dag, {}).value();
  EXPECT_EQ(names(path.path), (Names{"a", "b", "d"}));  // b and c tie: the smaller name
  EXPECT_EQ(path.length, 3.0);

  TestDag chain;
  add_nodes(chain, {"a", "b", "c"});
  add_edges(chain, {{"a", "b"}});
  const CostMap costs{{"a", 2.0}, {"b", 5.0}, {"c", 6.0}, {"ghost", 50.0}};
  EXPECT_EQ(bottom_map(chain, costs),
            (std::map<std::string, double>{{"a", 7}, {"b", 5}, {"c", 6}}));
  path = critical_path(chain, costs).value();
  EXPECT_EQ(names(path.path), (Names{"a", "b"}));
  EXPECT_EQ(path.length, 7.0);

  // Among equal greatest bottom levels the start is the smallest name, whatever the slot order.
  TestDag ties;
  add_nodes(ties, {"r2", "r1", "r3", "s"});
  add_edges(ties, {{"r2", "s"}, {"r1", "s"}, {"r3", "s"}});
  EXPECT_EQ(names(critical_path(ties, {}).value().path), (Names{"r1", "s"}));
}

TEST(BottomLevels, NegativeNaNAndParallelEdges) {
  TestDag dag;
  add_nodes(dag, {"p", "leaf"});
  add_edges(dag, {{"p", "leaf"}, {"p", "leaf"}});
  EXPECT_EQ(bottom_map(dag, {}), (std::map<std::string, double>{{"leaf", 1}, {"p", 2}}));
  EXPECT_EQ(bottom_map(dag, {{"leaf", -5.0}}),
            (std::map<std::string, double>{{"leaf", -5}, {"p", 1}}));
  auto with_nan = bottom_map(dag, {{"leaf", kNaN}});
  EXPECT_TRUE(std::isnan(with_nan["leaf"]));
  EXPECT_EQ(with_nan["p"], 1.0);
  // A positive NaN is the greatest value, so the path starts at the leaf.
  auto path = critical_path(dag, {{"leaf", kNaN}}).value();
  EXPECT_EQ(names(path.path), (Names{"leaf"}));
  EXPECT_TRUE(std::isnan(path.length));
}

TEST(Plans, EmptyGraph) {
  TestDag dag;
  EXPECT_TRUE(bottom_levels(dag, {}).empty());
  EXPECT_TRUE(critical_path(dag, {}).value().path.empty());
  for (const auto& plan : {execution_plan(dag, {}).value(), constrained(dag, 3, {})}) {
    EXPECT_TRUE(plan.steps.empty());
    EXPECT_FALSE(plan.critical_path.has_value());
    EXPECT_EQ(plan.total_nodes + plan.max_parallelism, 0u);
    EXPECT_EQ(plan.estimated_makespan, 0.0);
  }
}

TEST(Plans, LevelsAndWorkers) {
  TestDag chain;
  add_nodes(chain, {"a", "b", "c"});
  add_edges(chain, {{"a", "b"}, {"b", "c"}});
  for (const auto& plan :
       {execution_plan(chain, {}).value(), constrained(chain, 0, {}), constrained(chain, 4, {})}) {
    EXPECT_EQ(describe(plan), "a@0 | b@1 | c@2");
    EXPECT_EQ(names(*plan.critical_path), (Names{"a", "b", "c"}));
    EXPECT_EQ(plan.estimated_makespan, 3.0);
  }

  TestDag lone;
  add_nodes(lone, {"c", "a", "b"});
  EXPECT_EQ(describe(execution_plan(lone, {}).value()), "a@0 b@0 c@0");
  EXPECT_EQ(describe(constrained(lone, 1, {})), "a@0 | b@1 | c@2");
  EXPECT_EQ(constrained(lone, 1, {}).estimated_makespan, 1.0);
  EXPECT_EQ(describe(constrained(lone, 1, {{"a", 0.0}, {"b", 0.0}, {"c", 0.0}})), "a@0 b@0 c@0");
}

TEST(LevelPlan, LevelDurationIsTheLongestTask) {
  TestDag dag;
  add_nodes(dag, {"a", "b", "c"});
  add_edges(dag, {{"a", "b"}});
  auto plan = execution_plan(dag, {{"c", 5.0}}).value();
  EXPECT_EQ(describe(plan), "a@0 c@0 | b@5");
  EXPECT_EQ(names(*plan.critical_path), (Names{"c"}));
  EXPECT_EQ(plan.estimated_makespan, 5.0);  // not b's end at 6
  EXPECT_EQ(plan.max_parallelism, 2u);
  // Negative durations count as 0.0 and a NaN one is ignored.
  EXPECT_EQ(describe(execution_plan(dag, {{"a", -3.0}, {"c", kNaN}}).value()), "a@0 c@0 | b@0");
}

// Two tasks finish at 1.0; the one of smaller index is taken off first, and its free worker goes
// to a task already ready before the other finisher releases its successors.
TEST(ConstrainedPlan, SimultaneousFinishersOnePerPass) {
  const CostMap costs{{"a", 1.0}, {"b", 1.0}, {"c", 1.0}, {"x", 5.0}, {"y", 5.0}};
  TestDag dag;
  add_nodes(dag, {"a", "b", "c", "x", "y"});
  add_edges(dag, {{"b", "x"}, {"b", "y"}});
  auto plan = constrained(dag, 2, costs);
  EXPECT_EQ(describe(plan), "a@0 b@0 | c@1 x@1 | y@2");
  EXPECT_EQ(names(*plan.critical_path), (Names{"b", "x"}));
  EXPECT_EQ(plan.estimated_makespan, 6.0);
  check_plan(dag, plan, 2);

  TestDag swapped;  // b now has the smaller index
  add_nodes(swapped, {"b", "a", "c", "x", "y"});
  add_edges(swapped, {{"b", "x"}, {"b", "y"}});
  EXPECT_EQ(describe(constrained(swapped, 2, costs)), "a@0 b@0 | x@1 y@1 | c@6");
}

TEST(ConstrainedPlan, NegativeCostsMoveTimeBack) {
  // a finishes at -1.0; x still starts no earlier than 0.0.
  TestDag dag;
  add_nodes(dag, {"a", "x", "b"});
  add_edges(dag, {{"a", "x"}});
  auto plan = constrained(dag, 1, {{"a", -1.0}, {"x", 10.0}, {"b", 1.0}});
  EXPECT_EQ(describe(plan), "a@0 x@0 | b@10");
  EXPECT_EQ(plan.max_parallelism, 2u);
  EXPECT_EQ(names(*plan.critical_path), (Names{"x"}));

  // q runs from 5 back to 3, and the waiting r starts at that earlier time.
  TestDag back;
  add_nodes(back, {"p", "q", "r"});
  add_edges(back, {{"p", "q"}});
  EXPECT_EQ(describe(constrained(back, 1, {{"p", 5.0}, {"q", -2.0}, {"r", -3.0}})),
            "p@0 | r@3 | q@5");
}

TEST(ConstrainedPlan, NaNAndInfiniteCostsGiveValidStarts) {
  TestDag dag;
  add_nodes(dag, {"a", "b", "c", "d"});
  add_edges(dag, {{"a", "b"}, {"c", "d"}});
  for (double odd : {kNaN, -kNaN, kInf, -kInf}) {
    for (std::size_t w : {1u, 2u}) {
      auto plan = constrained(dag, w, {{"a", odd}, {"c", -odd}});
      EXPECT_EQ(plan.total_nodes, 4u);
      for (const auto& step : plan.steps) {
        EXPECT_FALSE(std::isnan(step.nodes[0].start_time) ||
                     std::signbit(step.nodes[0].start_time));
      }
    }
    EXPECT_EQ(execution_plan(dag, {{"a", odd}}).value().total_nodes, 4u);
  }
}

TEST(Plans, RandomGraphsAreSound) {
  std::mt19937 rng(11);
  for (int round = 0; round < 30; ++round) {
    TestDag dag;
    CostMap costs;
    const int n = 1 + static_cast<int>(rng() % 25);
    testing::add_random_dag(dag, rng, n, 100, 5, [&](const std::string& name) {
      costs[name] = static_cast<double>(1 + rng() % 5);
    });
    check_plan(dag, execution_plan(dag, costs).value());
    const std::size_t workers = 1 + rng() % 4;
    check_plan(dag, constrained(dag, workers, costs), workers);
  }
}

TEST(Plans, LongChainNeedsNoDeepStack) {
  TestDag dag;
  const NodeIndex n = 200000;
  for (NodeIndex i = 0; i < n; ++i) {
    ASSERT_TRUE(dag.add_node("n" + std::to_string(i), 0).ok());
    if (i) {
      ASSERT_TRUE(dag.add_edge(i - 1, i, std::nullopt, std::nullopt).ok());
    }
  }
  auto path = critical_path(dag, {}).value();
  EXPECT_EQ(path.path.size(), n);
  EXPECT_EQ(path.length, n);
  EXPECT_EQ(constrained(dag, 3, {}).steps.size(), n);
}

}  // namespace
}  // namespace torvex
