#include "graph/paths.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "test_support.hpp"

namespace torvex {
namespace {

using testing::add_edges;
using testing::add_nodes;
using testing::TestDag;
using Names = std::vector<std::string>;
using Costed = std::optional<std::pair<Names, double>>;

Names names(const std::vector<NodeId>& ids) {
  Names out;
  for (const NodeId& id : ids) out.push_back(id.name);
  return out;
}

std::vector<Names> paths(const TestDag& dag, const char* from, const char* to,
                         std::optional<std::size_t> limit = std::nullopt) {
  std::vector<Names> out;
  for (const auto& p : all_paths(dag, from, to, limit).value()) out.push_back(names(p));
  return out;
}

std::optional<Names> shortest(const TestDag& dag, const char* from, const char* to) {
  auto found = shortest_path(dag, from, to).value();
  return found ? std::optional(names(*found)) : std::nullopt;
}

Costed longest(const TestDag& dag, const char* from, const char* to, const CostMap& costs = {}) {
  auto found = longest_path(dag, from, to, costs).value();
  return found ? Costed(std::pair(names(found->path), found->total)) : std::nullopt;
}

// a -> b, a -> c, b -> d, c -> d, with the two edges out of a in either order.
void make_diamond(TestDag& dag, bool a_to_c_first = false) {
  add_nodes(dag, {"a", "b", "c", "d"});
  add_edges(dag, {a_to_c_first ? std::pair("a", "c") : std::pair("a", "b"),
                  a_to_c_first ? std::pair("a", "b") : std::pair("a", "c"),
                  {"b", "d"},
                  {"c", "d"}});
}

TEST(PathsTest, DiamondOrdersByNameShortestByNewestEdgeLongestByKahn) {
  for (bool a_to_c_first : {false, true}) {
    TestDag dag;
    make_diamond(dag, a_to_c_first);
    EXPECT_EQ(paths(dag, "a", "d"), (std::vector<Names>{{"a", "b", "d"}, {"a", "c", "d"}}));
    // The newest edge out of a is discovered first.
    const Names newest_first = a_to_c_first ? Names{"a", "b", "d"} : Names{"a", "c", "d"};
    EXPECT_EQ(shortest(dag, "a", "d"), newest_first);
    EXPECT_EQ(longest(dag, "a", "d"), std::pair(Names{"a", "b", "d"}, 3.0));
  }
}

TEST(PathsTest, LimitsSelfPathsUnreachableAndParallelEdges) {
  TestDag dag;
  make_diamond(dag);
  add_nodes(dag, {"e"});
  add_edges(dag, {{"a", "e"}, {"a", "e"}});
  EXPECT_EQ(paths(dag, "b", "b", 0), (std::vector<Names>{{"b"}}));
  EXPECT_EQ(shortest(dag, "b", "b"), Names{"b"});
  EXPECT_EQ(longest(dag, "b", "b", {{"b", 2.5}}), std::pair(Names{"b"}, 2.5));
  EXPECT_TRUE(paths(dag, "a", "d", 0).empty());
  EXPECT_EQ(paths(dag, "a", "d", 1), (std::vector<Names>{{"a", "b", "d"}}));
  EXPECT_EQ(longest(dag, "e", "a"), std::nullopt);
  EXPECT_EQ(paths(dag, "a", "e"), (std::vector<Names>{{"a", "e"}, {"a", "e"}}));
  EXPECT_EQ(paths(dag, "a", "e", 1), (std::vector<Names>{{"a", "e"}}));
  // Missing names: the source is reported first.
  EXPECT_EQ(all_paths(dag, "x", "y", std::nullopt).error(), TorvexError::node_not_found("x"));
  EXPECT_EQ(shortest_path(dag, "a", "y").error(), TorvexError::node_not_found("y"));
  EXPECT_EQ(longest_path(dag, "x", "a", {}).error(), TorvexError::node_not_found("x"));
}

TEST(PathsTest, LongestPathCosts) {
  TestDag dag;
  make_diamond(dag);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  // Unknown names are ignored; c's cost makes its branch the longer one.
  EXPECT_EQ(longest(dag, "a", "d", {{"c", 4.0}, {"zz", 99.0}}),
            std::pair(Names{"a", "c", "d"}, 6.0));
  // A NaN candidate never sets a distance, and -inf never creates one.
  EXPECT_TRUE(std::isnan(longest(dag, "a", "a", {{"a", nan}})->second));
  EXPECT_EQ(longest(dag, "a", "d", {{"a", nan}}), std::nullopt);
  EXPECT_EQ(longest(dag, "a", "b", {{"b", -inf}}), std::nullopt);
  EXPECT_EQ(longest(dag, "a", "d", {{"b", nan}}), std::pair(Names{"a", "c", "d"}, 3.0));
}

// A long chain must not exhaust the native stack.
TEST(PathsTest, LongChain) {
  constexpr int kLength = 300'000;
  TestDag dag;
  for (int i = 0; i < kLength; ++i) ASSERT_TRUE(dag.add_node(std::to_string(i), 0).ok());
  for (int i = 1; i < kLength; ++i) {
    ASSERT_TRUE(dag.add_edge(std::to_string(i - 1), std::to_string(i), {}, {}).ok());
  }
  const std::string last = std::to_string(kLength - 1);
  EXPECT_EQ(all_paths(dag, "0", last, std::nullopt).value().at(0).size(), std::size_t{kLength});
  EXPECT_EQ(shortest_path(dag, "0", last).value()->size(), std::size_t{kLength});
  EXPECT_EQ(longest_path(dag, "0", last, {}).value()->total, double{kLength});
}

// Every path by plain recursion, successors in name order, one visit per edge: an oracle for
// small graphs only.
void enumerate(const TestDag& dag, NodeIndex target, IndexList& path, std::vector<Names>& out) {
  if (path.back() == target) return out.push_back(testing::names(dag, path));
  IndexList successors;
  dag.graph().for_each_successor(path.back(), [&](NodeIndex s) { successors.push_back(s); });
  std::stable_sort(successors.begin(), successors.end(), [&](NodeIndex a, NodeIndex b) {
    return dag.graph().name(a) < dag.graph().name(b);
  });
  for (NodeIndex s : successors) {
    path.push_back(s);
    enumerate(dag, target, path, out);
    path.pop_back();
  }
}

TEST(PathsTest, AgreeWithExhaustiveEnumeration) {
  std::mt19937 rng(7);
  for (int round = 0; round < 30; ++round) {
    TestDag dag;
    CostMap costs;
    std::vector<std::string> id;
    for (int i = 0; i < 9; ++i) {  // names out of slot order
      id.push_back(std::string(1, static_cast<char>('a' + (i * 5 + round) % 9)) + "x");
      ASSERT_TRUE(dag.add_node(id[i], 0).ok());
      costs[id[i]] = static_cast<double>(static_cast<int>(rng() % 7) - 2);
    }
    for (int e = 0; e < 18; ++e) {
      const std::size_t i = rng() % 9, j = rng() % 9;
      if (i == j) continue;
      ASSERT_TRUE(dag.add_edge(id[std::min(i, j)], id[std::max(i, j)], {}, {}).ok());
    }
    for (const auto& from : id) {
      for (const auto& to : id) {
        std::vector<Names> all;
        IndexList start{*dag.find(from)};
        enumerate(dag, *dag.find(to), start, all);
        ASSERT_EQ(paths(dag, from.c_str(), to.c_str()), all) << from << " -> " << to;
        std::vector<Names> first_two = all;
        first_two.resize(std::min<std::size_t>(all.size(), 2));
        ASSERT_EQ(paths(dag, from.c_str(), to.c_str(), 2), first_two);
        const auto fewest = shortest(dag, from.c_str(), to.c_str());
        const auto best = longest(dag, from.c_str(), to.c_str(), costs);
        ASSERT_EQ(fewest.has_value(), !all.empty());
        ASSERT_EQ(best.has_value(), !all.empty());
        if (all.empty()) continue;
        const auto total = [&](const Names& p) {
          double sum = 0;
          for (const auto& name : p) sum += costs[name];
          return sum;
        };
        EXPECT_NE(std::find(all.begin(), all.end(), *fewest), all.end());
        EXPECT_NE(std::find(all.begin(), all.end(), best->first), all.end());
        for (const Names& p : all) {
          EXPECT_LE(fewest->size(), p.size());
          EXPECT_LE(total(p), best->second);
        }
        EXPECT_EQ(total(best->first), best->second);
      }
    }
  }
}

}  // namespace
}  // namespace torvex
