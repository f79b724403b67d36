#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "algorithms/toposort.hpp"
#include "test_support.hpp"

namespace torvex {
namespace {

using testing::add_edges;
using testing::add_nodes;
using testing::names;
using testing::TestDag;
using Names = std::vector<std::string>;

std::vector<Names> orderings(const TestDag& dag, std::optional<std::size_t> limit) {
  std::vector<Names> out;
  for (const IndexList& o : dag.all_topological_orderings(limit).value()) out.push_back(names(dag, o));
  return out;
}

TEST(ToposortTest, EmptyGraph) {
  TestDag dag;
  EXPECT_TRUE(dag.topological_sort().value()->empty());
  EXPECT_TRUE(dag.topological_sort_dfs().value()->empty());
  EXPECT_TRUE(dag.topological_levels().value()->empty());
  EXPECT_TRUE(orderings(dag, std::nullopt).empty());
  EXPECT_TRUE(orderings(dag, 3).empty());
}

TEST(ToposortTest, IsolatedNodesFollowNames) {
  TestDag dag;
  add_nodes(dag, {"b", "a", "c"});
  EXPECT_EQ(names(dag, *dag.topological_sort().value()), (Names{"a", "b", "c"}));
  EXPECT_EQ(names(dag, *dag.topological_sort_dfs().value()), (Names{"c", "b", "a"}));
  EXPECT_EQ(names(dag, *dag.topological_levels().value()),
            (std::vector<Names>{{"a", "b", "c"}}));
  auto all = orderings(dag, std::nullopt);
  ASSERT_EQ(all.size(), 6u);
  EXPECT_EQ(all[0], (Names{"a", "b", "c"}));
  EXPECT_EQ(all[1], (Names{"a", "c", "b"}));
  EXPECT_EQ(all[5], (Names{"c", "b", "a"}));
}

TEST(ToposortTest, KahnAndDepthFirstDiffer) {
  TestDag dag;
  add_nodes(dag, {"a", "b", "c"});
  add_edges(dag, {{"c", "a"}});
  EXPECT_EQ(names(dag, *dag.topological_sort().value()), (Names{"b", "c", "a"}));
  EXPECT_EQ(names(dag, *dag.topological_sort_dfs().value()), (Names{"c", "b", "a"}));
}

TEST(ToposortTest, NameOrderIsByteOrder) {
  TestDag dag;
  add_nodes(dag, {"\xc3\xa9", "z", "abc", "ab", "a", "B"});
  EXPECT_EQ(names(dag, *dag.topological_sort().value()),
            (Names{"B", "a", "ab", "abc", "z", "\xc3\xa9"}));
}

TEST(ToposortTest, KahnIsFirstInFirstOut) {
  TestDag dag;
  add_nodes(dag, {"a", "b2", "c"});
  add_edges(dag, {{"a", "b2"}});
  EXPECT_EQ(names(dag, *dag.topological_sort().value()), (Names{"a", "c", "b2"}));
  EXPECT_EQ(orderings(dag, 1), (std::vector<Names>{{"a", "b2", "c"}}));
}

TEST(ToposortTest, LevelsFollowLongestPath) {
  TestDag dag;
  add_nodes(dag, {"a", "b", "c"});
  add_edges(dag, {{"a", "b"}, {"b", "c"}, {"a", "c"}});
  EXPECT_EQ(names(dag, *dag.topological_levels().value()),
            (std::vector<Names>{{"a"}, {"b"}, {"c"}}));
}

TEST(ToposortTest, ParallelEdgesReleaseOnce) {
  TestDag dag;
  add_nodes(dag, {"x", "y"});
  add_edges(dag, {{"x", "y"}, {"x", "y"}});
  EXPECT_EQ(names(dag, *dag.topological_sort().value()), (Names{"x", "y"}));
  EXPECT_EQ(names(dag, *dag.topological_levels().value()), (std::vector<Names>{{"x"}, {"y"}}));
  EXPECT_EQ(orderings(dag, std::nullopt).size(), 1u);
}

TEST(ToposortTest, OrderingLimits) {
  TestDag dag;
  add_nodes(dag, {"a", "b", "c", "d"});
  EXPECT_TRUE(orderings(dag, 0).empty());
  EXPECT_EQ(orderings(dag, 100).size(), 24u);
  auto five = orderings(dag, 5);
  auto all = orderings(dag, std::nullopt);
  EXPECT_TRUE(std::equal(five.begin(), five.end(), all.begin()));
  EXPECT_TRUE(std::is_sorted(all.begin(), all.end()));
}

TEST(ToposortTest, OrdersFollowNamesNotSlots) {
  TestDag dag;
  add_nodes(dag, {"m", "n"});
  ASSERT_TRUE(dag.remove_node("m").ok());
  add_nodes(dag, {"z"});  // takes slot 0
  EXPECT_EQ(names(dag, *dag.topological_sort().value()), (Names{"n", "z"}));
}

// Differential check: every algorithm agrees with the plain definitions on random DAGs.
TEST(ToposortTest, RandomGraphsAgreeWithDefinitions) {
  std::mt19937 rng(7);
  for (int round = 0; round < 30; ++round) {
    TestDag dag;
    const int n = 1 + static_cast<int>(rng() % 7);
    for (int i = 0; i < n; ++i) ASSERT_TRUE(dag.add_node("v" + std::to_string(rng() % 1000) + "_" + std::to_string(i), 0).ok());
    auto all_nodes = dag.nodes();
    for (int k = 0; k < n * 2; ++k) {
      NodeIndex a = all_nodes[rng() % n], b = all_nodes[rng() % n];
      (void)dag.add_edge(dag.graph().name(a), dag.graph().name(b), std::nullopt, std::nullopt);
    }
    EXPECT_TRUE(testing::is_topo_order(dag, *dag.topological_sort().value()));
    EXPECT_TRUE(testing::is_topo_order(dag, *dag.topological_sort_dfs().value()));
    IndexList flat;
    for (const IndexList& level : *dag.topological_levels().value()) {
      flat.insert(flat.end(), level.begin(), level.end());
    }
    EXPECT_TRUE(testing::is_topo_order(dag, flat));
    // Brute force: the permutations in lexicographic name order, kept when topological, are
    // the orderings in their order; a limit takes a prefix.
    const auto by_name = [&](NodeIndex a, NodeIndex b) {
      return dag.graph().name(a) < dag.graph().name(b);
    };
    IndexList perm = dag.nodes();
    std::sort(perm.begin(), perm.end(), by_name);
    std::vector<IndexList> expected;
    do {
      if (testing::is_topo_order(dag, perm)) expected.push_back(perm);
    } while (std::next_permutation(perm.begin(), perm.end(), by_name));
    EXPECT_EQ(dag.all_topological_orderings(std::nullopt).value(), expected);
    for (std::size_t limit : {std::size_t{0}, std::size_t{1}, std::size_t{3}}) {
      const auto some = dag.all_topological_orderings(limit).value();
      EXPECT_EQ(some, std::vector<IndexList>(expected.begin(),
                                             expected.begin() + std::min(limit, expected.size())));
    }
  }
}

}  // namespace
}  // namespace torvex

namespace torvex {
namespace {

// Long lists take the prefix-key path: shared 8-byte prefixes, NUL bytes and high bytes must
// still sort exactly by bytes.
TEST(ToposortTest, SortByNameMatchesByteOrder) {
  StableGraph g;
  std::mt19937 rng(3);
  const std::string alphabet("ab\0\xff", 4);
  IndexList nodes;
  std::vector<std::string> expected;
  for (int i = 0; i < 500; ++i) {
    std::string name = i % 2 ? "prefix__" : "";
    for (int k = static_cast<int>(rng() % 12); k > 0; --k) name += alphabet[rng() % 4];
    name += std::to_string(i);
    nodes.push_back(g.add_node(name).value());
    expected.push_back(name);
  }
  algorithms::sort_by_name(g, nodes);
  std::sort(expected.begin(), expected.end());
  std::vector<std::string> got;
  for (NodeIndex n : nodes) got.emplace_back(g.name(n));
  EXPECT_EQ(got, expected);
}

}  // namespace
}  // namespace torvex
