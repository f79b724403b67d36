#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "graph/scheduling.hpp"
#include "test_support.hpp"

namespace torvex {
namespace {

using testing::TestDag;
using testing::text;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Each node, when taken, was ready and no ready node beat it (priority by the total order, then
// the smaller name).
::testing::AssertionResult is_greedy_order(const TestDag& dag, const CostMap& priorities,
                                           const std::vector<NodeId>& order) {
  const StableGraph& g = dag.graph();
  auto key = [&](NodeIndex n) {
    auto it = priorities.find(g.name(n));
    return std::pair(algorithms::OrdF64{-(it == priorities.end() ? 0.0 : it->second)}, g.name(n));
  };
  std::vector<bool> placed(g.node_bound(), false);
  auto is_ready = [&](NodeIndex n) {
    bool ready = !placed[n];
    g.for_each_predecessor(n, [&](NodeIndex p) { ready = ready && placed[p]; });
    return ready;
  };
  for (const NodeId& chosen : order) {
    if (!is_ready(chosen.index))
      return ::testing::AssertionFailure() << chosen.name << " early";
    for (NodeIndex r : dag.nodes()) {
      if (is_ready(r) && key(r) < key(chosen.index))
        return ::testing::AssertionFailure() << g.name(r) << " should precede " << chosen.name;
    }
    placed[chosen.index] = true;
  }
  if (order.size() != g.node_count())
    return ::testing::AssertionFailure() << "missing nodes";
  return ::testing::AssertionSuccess();
}

// Higher priority first among the ready nodes, then the smaller name (so not Kahn's order);
// floats by the total order (NaN above inf, -0.0 below an unset 0.0, a negative NaN last);
// levels keep their grouping.
TEST(PriorityOrder, WorkedExamples) {
  const struct {
    const char* graph;
    CostMap priorities;
    const char* order;
    const char* levels;
  } cases[] = {
      {"", {}, "", ""},
      {"a>b2 c x y", {}, "a b2 c x y", "a c x y | b2"},
      {"a>b2 c x y", {{"x", 1.0}, {"y", 5.0}, {"ghost", 9.0}}, "y x a b2 c", "y x a c | b2"},
      {"a>b2 c x y", {{"b2", 10.0}, {"c", 2.0}, {"a", 2.0}}, "a b2 c x y", "a c x y | b2"},
      {"inf nan neg_zero unset neg_nan",
       {{"inf", kInf},
        {"nan", std::copysign(kNaN, 1.0)},
        {"neg_zero", -0.0},
        {"neg_nan", std::copysign(kNaN, -1.0)}},
       "nan inf unset neg_zero neg_nan",
       "nan inf unset neg_zero neg_nan"},
      {"a>c b>c d", {{"b", 1.0}}, "b a c d", "b a d | c"},
  };
  for (const auto& c : cases) {
    TestDag dag;
    testing::build(dag, c.graph);
    const auto order = topological_sort_priority(dag, c.priorities).value();
    EXPECT_EQ(text(order), c.order) << c.graph;
    EXPECT_TRUE(is_greedy_order(dag, c.priorities, order));
    EXPECT_EQ(text(topological_levels_priority(dag, c.priorities).value()), c.levels) << c.graph;
  }
}

TEST(PriorityOrder, RandomGraphsFollowTheGreedyRule) {
  const double values[] = {0.0, -0.0, 1.0, 2.0, -kInf, kNaN};
  std::mt19937 rng(7);
  for (int round = 0; round < 40; ++round) {
    TestDag dag;
    CostMap priorities;
    testing::add_random_dag(dag, rng, 1 + static_cast<int>(rng() % 30), 1000, 6,
                            [&](const std::string& name) {
                              if (rng() % 3)
                                priorities[name] = values[rng() % 6];
                            });
    auto result = topological_sort_priority(dag, priorities).value();
    EXPECT_TRUE(is_greedy_order(dag, priorities, result)) << "round " << round;
  }
}

}  // namespace
}  // namespace torvex
