#include "algorithms/diff.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "test_support.hpp"

namespace torvex {
namespace {

using algorithms::structural_diff;
using testing::TestDag;
using Names = std::vector<std::string>;
using Pairs = std::vector<algorithms::NamePair>;

TEST(DiffTest, SixSortedLists) {
  TestDag a, b;
  testing::build(a, "p x q B ab gone p>x x>q p>q p>ab p>B gone>q");
  ASSERT_TRUE(a.remove_node("gone").ok());
  testing::build(b, "q p y p>y>q p>q p>q");
  auto d = structural_diff(a.graph(), b.graph());
  EXPECT_EQ(d.nodes_only_in_a, (Names{"B", "ab", "x"}));
  EXPECT_EQ(d.nodes_only_in_b, (Names{"y"}));
  EXPECT_EQ(d.nodes_in_both, (Names{"p", "q"}));
  EXPECT_EQ(d.edges_only_in_a, (Pairs{{"p", "B"}, {"p", "ab"}, {"p", "x"}, {"x", "q"}}));
  EXPECT_EQ(d.edges_only_in_b, (Pairs{{"p", "y"}, {"y", "q"}}));
  EXPECT_EQ(d.edges_in_both, (Pairs{{"p", "q"}}));  // multiplicity plays no part

  auto same = structural_diff(b.graph(), b.graph());
  EXPECT_EQ(same.nodes_in_both, (Names{"p", "q", "y"}));
  EXPECT_EQ(same.edges_in_both, (Pairs{{"p", "q"}, {"p", "y"}, {"y", "q"}}));
  EXPECT_TRUE(same.nodes_only_in_a.empty() && same.nodes_only_in_b.empty() &&
              same.edges_only_in_a.empty() && same.edges_only_in_b.empty());
}

// Plain set algebra on names and name pairs, against two random graphs sharing some names.
TEST(DiffTest, MatchesSetAlgebraOnRandomGraphs) {
  std::mt19937 rng(3);
  std::bernoulli_distribution coin(0.3);
  for (int round = 0; round < 30; ++round) {
    TestDag g[2];
    std::set<std::string> nodes[2];
    std::set<algorithms::NamePair> edges[2];
    for (int side = 0; side < 2; ++side) {
      std::vector<std::string> names;
      for (int i = 0; i < 12; ++i) {
        if (coin(rng))
          continue;
        names.push_back(std::string(i % 4 * 3, 'x') + char('a' + i % 5));  // long shared prefixes
        ASSERT_TRUE(g[side].add_node(names.back(), 0).ok());
      }
      std::shuffle(names.begin(), names.end(), rng);  // edges follow this random order
      for (std::size_t i = 0; i < names.size(); ++i)
        for (std::size_t j = i + 1; j < names.size(); ++j)
          for (int copies = coin(rng) + coin(rng); copies > 0; --copies) {
            ASSERT_TRUE(g[side].add_edge(names[i], names[j], {}, {}).ok());
            edges[side].emplace(names[i], names[j]);
          }
      nodes[side].insert(names.begin(), names.end());
    }
    auto d = structural_diff(g[0].graph(), g[1].graph());
    auto minus = [](const auto& x, const auto& y) {
      std::vector<typename std::decay_t<decltype(x)>::value_type> out;
      std::set_difference(x.begin(), x.end(), y.begin(), y.end(), std::back_inserter(out));
      return out;
    };
    EXPECT_EQ(d.nodes_only_in_a, minus(nodes[0], nodes[1]));
    EXPECT_EQ(d.nodes_only_in_b, minus(nodes[1], nodes[0]));
    EXPECT_EQ(d.nodes_in_both, minus(nodes[0], minus(nodes[0], nodes[1])));
    EXPECT_EQ(d.edges_only_in_a, minus(edges[0], edges[1]));
    EXPECT_EQ(d.edges_only_in_b, minus(edges[1], edges[0]));
    ASSERT_EQ(d.edges_in_both, minus(edges[0], minus(edges[0], edges[1])));
    // The slots let a caller compare what the structure ignores: the same names, and for a pair
    // its most recently added edge on each side.
    for (std::size_t i = 0; i < d.nodes_in_both.size(); ++i) {
      EXPECT_EQ(g[0].graph().name(d.nodes_in_both_slots[i].first), d.nodes_in_both[i]);
      EXPECT_EQ(g[1].graph().name(d.nodes_in_both_slots[i].second), d.nodes_in_both[i]);
    }
    for (std::size_t i = 0; i < d.edges_in_both.size(); ++i) {
      auto [source, target] = d.edges_in_both[i];
      EXPECT_EQ(d.edges_in_both_slots[i].first,
                g[0].graph().find_edge(*g[0].find(source), *g[0].find(target)));
      EXPECT_EQ(d.edges_in_both_slots[i].second,
                g[1].graph().find_edge(*g[1].find(source), *g[1].find(target)));
    }
  }
}

}  // namespace
}  // namespace torvex
