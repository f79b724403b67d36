#include "graph/stats.hpp"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "algorithms/scheduling.hpp"
#include "test_support.hpp"

namespace torvex {
namespace {

using testing::add_edges;
using testing::add_nodes;
using testing::TestDag;

// The record on one line, in field order.
std::string summary(const TestDag& dag) {
  auto s = stats(dag).value();
  std::ostringstream out;
  out << s.node_count << ' ' << s.edge_count << " depth=" << s.depth << " width=" << s.width << ' '
      << s.density << " path=" << s.longest_path_length << ' ' << s.avg_in_degree << ' '
      << s.avg_out_degree << " max=" << s.max_in_degree << ',' << s.max_out_degree
      << " roots=" << s.root_count << " leaves=" << s.leaf_count
      << (s.is_weakly_connected ? " connected" : " split") << " components=" << s.component_count;
  return out.str();
}

TEST(StatsTest, SmallGraphs) {
  TestDag dag;
  EXPECT_EQ(summary(dag),
            "0 0 depth=0 width=0 0 path=0 0 0 max=0,0 roots=0 leaves=0 connected components=0");
  add_nodes(dag, {"a"});
  EXPECT_EQ(summary(dag),
            "1 0 depth=1 width=1 0 path=0 0 0 max=0,0 roots=1 leaves=1 connected components=1");
  add_nodes(dag, {"b"});
  EXPECT_EQ(summary(dag),
            "2 0 depth=1 width=2 0 path=0 0 0 max=0,0 roots=2 leaves=2 split components=2");
  add_nodes(dag, {"c"});
  add_edges(dag, {{"a", "b"}, {"b", "c"}});
  EXPECT_EQ(
      summary(dag),
      "3 2 depth=3 width=1 0.333333 path=2 0.666667 0.666667 max=1,1 roots=1 leaves=1 connected "
      "components=1");
  EXPECT_EQ(dag.cache_misses() + dag.cache_size(), 0u);  // the cache is left alone
}

TEST(StatsTest, ParallelEdgesCountEach) {
  TestDag dag;
  add_nodes(dag, {"a", "b", "c"});
  add_edges(dag, {{"a", "b"}, {"a", "b"}, {"a", "b"}, {"b", "c"}, {"a", "c"}});
  EXPECT_EQ(
      summary(dag),
      "3 5 depth=3 width=1 0.833333 path=2 1.66667 1.66667 max=3,4 roots=1 leaves=1 connected "
      "components=1");
}

TEST(StatsTest, WeakComponentsIgnoreDirection) {
  TestDag dag;
  add_nodes(dag, {"x", "y", "z", "p", "q", "gone"});
  add_edges(dag, {{"x", "y"}, {"z", "y"}, {"p", "q"}, {"gone", "q"}});
  ASSERT_TRUE(dag.remove_node("gone").ok());
  EXPECT_EQ(count_weak_components(dag.graph()), 2u);
  add_edges(dag, {{"q", "z"}});
  EXPECT_EQ(count_weak_components(dag.graph()), 1u);
}

// The longest path is read off the levels; the critical path with unit costs must agree on
// every shape, isolated nodes and freed slots included.
TEST(StatsTest, LongestPathAgreesWithUnitCostCriticalPath) {
  std::mt19937 rng(11);
  for (int round = 0; round < 60; ++round) {
    TestDag dag;
    testing::add_random_dag(dag, rng, round % 17, 50, 2 + round % 5, [](const std::string&) {});
    if (round % 3 == 0 && dag.node_count() > 2) {
      ASSERT_TRUE(dag.remove_node(std::string(dag.graph().name(1))).ok());
    }
    const auto path = algorithms::critical_path(dag.graph(), algorithms::NodeValues()).value();
    const auto s = stats(dag).value();
    const std::uint64_t nodes_on_path = dag.node_count() == 0 ? 0 : s.longest_path_length + 1;
    EXPECT_EQ(path.path.size(), nodes_on_path) << round;
    EXPECT_EQ(path.length, static_cast<double>(nodes_on_path)) << round;
  }
}

}  // namespace
}  // namespace torvex
