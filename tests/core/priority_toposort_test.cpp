#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "graph/scheduling.hpp"
#include "test_support.hpp"

namespace torvex {
namespace {

using testing::add_edges;
using testing::add_nodes;
using testing::TestDag;
using Names = std::vector<std::string>;

Names names(const std::vector<NodeId>& ids) {
  Names out;
  for (const NodeId& id : ids)
    out.push_back(id.name);
  return out;
}

Names order(const TestDag& dag, const CostMap& priorities) {
  return names(topological_sort_priority(dag, priorities).value());
}

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
      if (is_ready(r) && key(r) < key(chosen.index)) {
        return ::testing::AssertionFailure() << g.name(r) << " should precede " << chosen.name;
      }
    }
    placed[chosen.index] = true;
  }
  if (order.size() != g.node_count())
    return ::testing::AssertionFailure() << "missing nodes";
  return ::testing::AssertionSuccess();
}

TEST(PriorityOrder, PriorityThenNameAmongReadyNodes) {
  TestDag dag;
  add_nodes(dag, {"a", "b2", "c", "x", "y"});
  add_edges(dag, {{"a", "b2"}});
  EXPECT_EQ(order(dag, {}), (Names{"a", "b2", "c", "x", "y"}));  // Kahn would give a c b2
  EXPECT_EQ(order(dag, {{"x", 1.0}, {"y", 5.0}, {"ghost", 9.0}}),
            (Names{"y", "x", "a", "b2", "c"}));
  // A priority never lets a node pass its predecessor.
  EXPECT_EQ(order(dag, {{"b2", 10.0}, {"c", 2.0}, {"a", 2.0}}), (Names{"a", "b2", "c", "x", "y"}));
}

TEST(PriorityOrder, SpecialFloatsFollowTheTotalOrder) {
  TestDag dag;
  add_nodes(dag, {"inf", "nan", "neg_zero", "unset", "neg_nan"});
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const CostMap priorities{{"inf", std::numeric_limits<double>::infinity()},
                           {"nan", std::copysign(nan, 1.0)},
                           {"neg_zero", -0.0},
                           {"neg_nan", std::copysign(nan, -1.0)}};
  const Names expected{"nan", "inf", "unset", "neg_zero", "neg_nan"};
  EXPECT_EQ(order(dag, priorities), expected);
  auto levels = topological_levels_priority(dag, priorities).value();
  ASSERT_EQ(levels.size(), 1u);
  EXPECT_EQ(names(levels[0]), expected);
}

TEST(PriorityOrder, LevelsKeepTheirGrouping) {
  TestDag dag;
  add_nodes(dag, {"a", "b", "c", "d"});
  add_edges(dag, {{"a", "c"}, {"b", "c"}});
  auto levels = topological_levels_priority(dag, {{"b", 1.0}}).value();
  ASSERT_EQ(levels.size(), 2u);
  EXPECT_EQ(names(levels[0]), (Names{"b", "a", "d"}));
  EXPECT_EQ(names(levels[1]), (Names{"c"}));

  TestDag empty;
  EXPECT_TRUE(order(empty, {}).empty());
  EXPECT_TRUE(topological_levels_priority(empty, {}).value().empty());
}

TEST(PriorityOrder, RandomGraphsFollowTheGreedyRule) {
  const double values[] = {0.0, -0.0, 1.0, 2.0, -INFINITY, NAN};
  std::mt19937 rng(7);
  for (int round = 0; round < 40; ++round) {
    TestDag dag;
    const int n = 1 + static_cast<int>(rng() % 30);
    CostMap priorities;
    testing::add_random_dag(dag, rng, n, 1000, 6, [&](const std::string& name) {
      if (rng() % 3) {
        priorities[name] = values[rng() % 6];
      }
    });
    auto result = topological_sort_priority(dag, priorities).value();
    EXPECT_TRUE(is_greedy_order(dag, priorities, result)) << "round " << round;
  }
}

}  // namespace
}  // namespace torvex
