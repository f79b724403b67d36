#include "algorithms/transforms.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "test_support.hpp"

namespace torvex {
namespace {

using algorithms::NodePair;
using testing::TestDag;

// Pairs as "a>c b>d", the way graphs are written for testing::build.
std::string named(const TestDag& dag, const std::vector<NodePair>& pairs) {
  std::string out;
  for (auto [u, v] : pairs) {
    out.append(out.empty() ? "" : " ").append(dag.graph().name(u));
    out.append(">").append(dag.graph().name(v));
  }
  return out;
}

// A parallel edge is no path, and parallel edges share one verdict.
TEST(TransformsTest, WorkedExamples) {
  const struct {
    const char* graph;
    const char* closure;
    const char* reduction;
  } cases[] = {
      {"a b c", "", ""},
      {"a>b a>b c", "", ""},
      {"a>b a>b b>c", "a>c", ""},
      {"a>b a>b b>c a>c a>c", "", "a>c"},
      {"a>b>c>d a>d b>d", "a>c", "a>d b>d"},
  };
  for (const auto& c : cases) {
    TestDag dag;
    testing::build(dag, c.graph);
    EXPECT_EQ(named(dag, algorithms::transitive_closure_new_edges(dag.graph())), c.closure);
    const auto redundant = algorithms::transitive_reduction_redundant_edges(dag.graph());
    EXPECT_EQ(named(dag, redundant.sorted()), c.reduction);
    for (auto [u, v] : redundant.sorted())
      EXPECT_TRUE(redundant.contains(u, v) && !redundant.contains(v, u));
  }
}

// Nodes reachable from u along paths that do not start with an edge to `skip`.
std::set<NodeIndex> reach(const StableGraph& g, NodeIndex u, NodeIndex skip) {
  std::set<NodeIndex> seen;
  IndexList stack{u};
  for (bool first = true; !stack.empty(); first = false) {
    NodeIndex x = stack.back();
    stack.pop_back();
    g.for_each_successor(x, [&](NodeIndex v) {
      if (!(first && v == skip) && seen.insert(v).second)
        stack.push_back(v);
    });
  }
  return seen;
}

// The plain definitions: one search per node for the closure, one per edge for the reduction.
TEST(TransformsTest, MatchesPlainSearchesOnRandomGraphs) {
  std::mt19937 rng(11);
  std::bernoulli_distribution edge(0.2), parallel(0.1);
  for (int round = 0; round < 30; ++round) {
    const int n = 5 + round;
    std::vector<std::string> names;
    for (int i = 0; i < n; ++i)
      names.push_back("v" + std::to_string(i));
    std::shuffle(names.begin(), names.end(), rng);
    TestDag dag;
    for (const auto& name : names)
      ASSERT_TRUE(dag.add_node(name, 0).ok());
    for (int i = 0; i < n; ++i)
      for (int j = i + 1; j < n; ++j)
        for (int copies = edge(rng) ? 1 + parallel(rng) : 0; copies > 0; --copies) {
          ASSERT_TRUE(dag.add_edge(names[i], names[j], {}, {}).ok());
        }
    ASSERT_TRUE(dag.remove_node(names[n / 2]).ok());  // leave a vacant slot
    const StableGraph& g = dag.graph();

    std::set<NodePair> closure_pairs, redundant_pairs;
    for (NodeIndex u = 0; u < g.node_bound(); ++u) {
      for (NodeIndex w : g.is_live(u) ? reach(g, u, kEnd) : std::set<NodeIndex>{})
        if (g.find_edge(u, w) == kEnd)
          closure_pairs.emplace(u, w);
    }
    for (EdgeIndex e = 0; e < g.edge_bound(); ++e) {
      if (g.is_edge_live(e) &&
          reach(g, g.edge_source(e), g.edge_target(e)).contains(g.edge_target(e)))
        redundant_pairs.emplace(g.edge_source(e), g.edge_target(e));
    }
    // Each pair once, grouped by source in slot order.
    auto got = algorithms::transitive_closure_new_edges(g);
    EXPECT_TRUE(
        std::is_sorted(got.begin(), got.end(), [](auto x, auto y) { return x.first < y.first; }));
    EXPECT_EQ(std::set(got.begin(), got.end()), closure_pairs);
    EXPECT_EQ(got.size(), closure_pairs.size());
    auto redundant = algorithms::transitive_reduction_redundant_edges(g).sorted();
    EXPECT_EQ(std::set(redundant.begin(), redundant.end()), redundant_pairs);
  }
}

// Rows are built one block of positions at a time: a graph wider than a block, with parallel
// edges and a vacant slot, against one plain search per edge.
TEST(TransformsTest, ReductionAcrossBlocksMatchesPlainSearch) {
  std::mt19937 rng(5);
  TestDag dag;
  testing::add_random_dag(dag, rng, 2200, 100000, 300, [](const std::string&) {});
  const StableGraph& g = dag.graph();
  for (EdgeIndex e = 0; e < g.edge_bound(); e += 7)
    ASSERT_TRUE(dag.add_edge(g.edge_source(e), g.edge_target(e), {}, {}).ok());
  ASSERT_TRUE(dag.remove_node(g.name(1100)).ok());
  std::set<NodePair> expected;
  for (EdgeIndex e = 0; e < g.edge_bound(); ++e) {
    if (g.is_edge_live(e) &&
        reach(g, g.edge_source(e), g.edge_target(e)).contains(g.edge_target(e)))
      expected.emplace(g.edge_source(e), g.edge_target(e));
  }
  const auto redundant = algorithms::transitive_reduction_redundant_edges(g).sorted();
  EXPECT_GT(expected.size(), 100u);
  EXPECT_EQ(std::set(redundant.begin(), redundant.end()), expected);
}

}  // namespace
}  // namespace torvex
