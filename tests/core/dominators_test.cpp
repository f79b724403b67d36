#include "algorithms/dominators.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <set>

#include "algorithms/toposort.hpp"
#include "graph/transforms.hpp"
#include "test_support.hpp"

namespace torvex {
namespace {

using testing::TestDag;
using Tree = std::vector<std::pair<std::string, std::string>>;

Tree tree(const TestDag& dag, const char* root) {
  return dominator_tree(dag, root).value();
}

TEST(DominatorTreeTest, WorkedExamples) {
  TestDag dag;
  testing::build(dag, "a b c d x B ab");
  EXPECT_EQ(tree(dag, "a"), (Tree{{"a", "a"}}));
  testing::build(dag, "a>b a>c b>d c>d x>d");
  EXPECT_EQ(tree(dag, "a"), (Tree{{"a", "a"}, {"b", "a"}, {"c", "a"}, {"d", "a"}}));
  // a precedes the root and x is not reached: neither counts as d's predecessor.
  EXPECT_EQ(tree(dag, "b"), (Tree{{"b", "b"}, {"d", "b"}}));
  testing::build(dag, "b>c b>c b>ab b>B");
  EXPECT_EQ(tree(dag, "b"), (Tree{{"B", "b"}, {"ab", "b"}, {"b", "b"}, {"c", "b"}, {"d", "b"}}));
  EXPECT_EQ(dominator_tree(dag, "zz").error(), TorvexError::node_not_found("zz"));
}

// Dominator sets by their definition: Dom(n) = {n} plus the intersection of Dom(p) over the
// reached predecessors p; the immediate dominator is the strict dominator with the largest set.
// Indexed by slot: the immediate dominator, kEnd where the root does not reach.
using DominatorMap = std::vector<NodeIndex>;

DominatorMap from_sets(const StableGraph& g, NodeIndex root, const IndexList& order) {
  std::vector<std::set<NodeIndex>> dom(g.node_bound());
  DominatorMap idom(g.node_bound(), kEnd);
  for (NodeIndex n : order) {
    std::optional<std::set<NodeIndex>> common;
    g.for_each_predecessor(n, [&](NodeIndex p) {
      if (dom[p].empty())
        return;
      std::set<NodeIndex> both;
      for (NodeIndex d : dom[p])
        if (!common || common->contains(d))
          both.insert(d);
      common = both;
    });
    if (n != root && !common)
      continue;
    dom[n] = n == root ? std::set<NodeIndex>{} : *common;
    for (NodeIndex d : dom[n])
      if (idom[n] == kEnd || dom[d].size() > dom[idom[n]].size())
        idom[n] = d;
    dom[n].insert(n);
  }
  idom[root] = root;
  return idom;
}

TEST(DominatorTreeTest, MatchesDominatorSetsOnRandomGraphs) {
  std::mt19937 rng(7);
  std::bernoulli_distribution edge(0.25);
  for (int round = 0; round < 40; ++round) {
    const int n = 4 + round % 20;
    std::vector<std::string> names;
    for (int i = 0; i < n; ++i)
      names.push_back("v" + std::to_string(i));
    std::shuffle(names.begin(), names.end(), rng);  // slot order is not name or edge order
    TestDag dag;
    for (const auto& name : names)
      ASSERT_TRUE(dag.add_node(name, 0).ok());
    for (int i = 0; i < n; ++i)
      for (int j = i + 1; j < n; ++j)
        if (edge(rng)) {
          ASSERT_TRUE(dag.add_edge(names[i], names[j], {}, {}).ok());
        }
    auto order = algorithms::topological_sort_kahn(dag.graph()).value();
    for (NodeIndex root = 0; root < dag.graph().node_bound(); ++root) {
      DominatorMap found(dag.graph().node_bound(), kEnd);
      const auto pairs = algorithms::immediate_dominators(dag.graph(), root).value();
      for (const auto& [node, dominator] : pairs)
        found[node] = dominator;
      ASSERT_EQ(found, from_sets(dag.graph(), root, order))
          << "round " << round << " root " << root;
    }
  }
}

}  // namespace
}  // namespace torvex
