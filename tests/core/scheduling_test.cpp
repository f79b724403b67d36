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

using testing::TestDag;
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

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

// Bottom levels sum the costs down the heaviest path (a running maximum that ignores NaN); the
// critical path starts at the greatest bottom level, the smaller name among equals.
TEST(BottomLevels, WorkedExamples) {
  const struct {
    const char* graph;
    CostMap costs;
    const char* bottom;
    const char* critical;
  } cases[] = {
      {"", {}, "", " = 0"},
      {"a>b>d a>c>d", {}, "a=3 b=2 c=2 d=1", "a b d = 3"},
      {"a>b c", {{"a", 2.0}, {"b", 5.0}, {"c", 6.0}, {"ghost", 50.0}}, "a=7 b=5 c=6", "a b = 7"},
      {"r2>s r1>s r3>s", {}, "r1=2 r2=2 r3=2 s=1", "r1 s = 2"},
      {"p>leaf p>leaf", {}, "leaf=1 p=2", "p leaf = 2"},
      {"p>leaf", {{"leaf", -5.0}}, "leaf=-5 p=1", "p leaf = 1"},
      // A positive NaN is the greatest value, so the path starts at the leaf.
      {"p>leaf", {{"leaf", kNaN}}, "leaf=nan p=1", "leaf = nan"},
  };
  for (const auto& c : cases) {
    TestDag dag;
    testing::build(dag, c.graph);
    std::map<std::string, double> levels;
    for (const auto& [name, level] : bottom_levels(dag, c.costs))
      levels.emplace(name, level);
    std::ostringstream bottom, critical;
    for (const auto& [name, level] : levels)
      bottom << (bottom.tellp() ? " " : "") << name << '=' << level;
    EXPECT_EQ(bottom.str(), c.bottom) << c.graph;
    const auto path = critical_path(dag, c.costs).value();
    critical << testing::text(path.path) << " = " << path.length;
    EXPECT_EQ(critical.str(), c.critical) << c.graph;
  }
  TestDag gone;  // a vacant slot is skipped
  testing::build(gone, "x a>b");
  ASSERT_TRUE(gone.remove_node("x").ok());
  EXPECT_EQ(testing::text(critical_path(gone, {}).value().path), "a b");
}

// Plans as "a@0 b@0 | c@1, critical a c, makespan 2, width 2". The level plan (kLevels) starts
// each level when the previous one's longest task ends; the constrained one runs the ready
// tasks in name order on free workers (0: any number), taking finishers off one at a time.
TEST(Plans, WorkedExamples) {
  constexpr std::size_t kLevels = SIZE_MAX;
  const CostMap ones{{"a", 1.0}, {"b", 1.0}, {"c", 1.0}, {"x", 5.0}, {"y", 5.0}};
  const struct {
    const char* graph;
    std::size_t workers;
    CostMap costs;
    const char* plan;
  } cases[] = {
      {"", kLevels, {}, ", critical none, makespan 0, width 0"},
      {"", 3, {}, ", critical none, makespan 0, width 0"},
      {"a>b>c", kLevels, {}, "a@0 | b@1 | c@2, critical a b c, makespan 3, width 1"},
      {"a>b>c", 0, {}, "a@0 | b@1 | c@2, critical a b c, makespan 3, width 1"},
      {"a>b>c", 4, {}, "a@0 | b@1 | c@2, critical a b c, makespan 3, width 1"},
      {"c a b", kLevels, {}, "a@0 b@0 c@0, critical a, makespan 1, width 3"},
      {"c a b", 1, {}, "a@0 | b@1 | c@2, critical a, makespan 1, width 1"},
      {"c a b",
       1,
       {{"a", 0.0}, {"b", 0.0}, {"c", 0.0}},
       "a@0 b@0 c@0, critical a, makespan 0, width 3"},
      // The level's longest task sets its length; the makespan is not b's end at 6. Negative
      // durations count as 0.0 and a NaN one is ignored.
      {"a>b c", kLevels, {{"c", 5.0}}, "a@0 c@0 | b@5, critical c, makespan 5, width 2"},
      {"a>b c",
       kLevels,
       {{"a", -3.0}, {"c", kNaN}},
       "a@0 c@0 | b@0, critical c, makespan nan, width 2"},
      // a and b finish at 1: a (the smaller slot) is taken off first and its worker goes to c,
      // ready before b releases x and y.
      {"a b c x y b>x b>y", 2, ones, "a@0 b@0 | c@1 x@1 | y@2, critical b x, makespan 6, width 2"},
      {"b a c x y b>x b>y", 2, ones, "a@0 b@0 | x@1 y@1 | c@6, critical b x, makespan 6, width 2"},
      // a finishes at -1, and x still starts at 0; q runs from 5 back to 3, and the waiting r
      // starts at that earlier time.
      {"a>x b",
       1,
       {{"a", -1.0}, {"x", 10.0}, {"b", 1.0}},
       "a@0 x@0 | b@10, critical x, makespan 10, width 2"},
      {"p>q r",
       1,
       {{"p", 5.0}, {"q", -2.0}, {"r", -3.0}},
       "p@0 | r@3 | q@5, critical p q, makespan 5, width 1"},
  };
  for (const auto& c : cases) {
    TestDag dag;
    testing::build(dag, c.graph);
    const ExecutionPlanResult plan = c.workers == kLevels ? execution_plan(dag, c.costs).value()
                                                          : constrained(dag, c.workers, c.costs);
    std::ostringstream out;
    for (const ExecutionStepResult& step : plan.steps) {
      out << (step.step_index ? " | " : "");
      for (const ScheduledNodeId& s : step.nodes)
        out << (&s == &step.nodes[0] ? "" : " ") << s.node.name << '@' << s.start_time;
    }
    out << ", critical " << (plan.critical_path ? testing::text(*plan.critical_path) : "none")
        << ", makespan " << plan.estimated_makespan << ", width " << plan.max_parallelism;
    EXPECT_EQ(out.str(), c.plan) << c.graph << " on " << c.workers;
    EXPECT_EQ(plan.total_nodes, dag.node_count());
  }
}

TEST(ConstrainedPlan, NaNAndInfiniteCostsGiveValidStarts) {
  TestDag dag;
  testing::build(dag, "a>b c>d");
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

}  // namespace
}  // namespace torvex
