#include "graph/paths.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <sstream>

#include "test_support.hpp"

namespace torvex {
namespace {

using testing::TestDag;
using testing::text;
using Names = std::vector<std::string>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::string paths(const TestDag& dag, const std::string& from, const std::string& to,
                  std::optional<std::size_t> limit = std::nullopt) {
  return text(all_paths(dag, from, to, limit).value());
}

// All paths in name order (parallel edges give a path each); the shortest is the first found
// along the newest edges; the longest follows the Kahn order, costs 1.0 by default, and a NaN
// or -inf candidate never sets a distance.
TEST(PathsTest, WorkedExamples) {
  const char* diamond = "a>b a>c b>d c>d";
  const struct {
    const char* graph;
    const char* from;
    const char* to;
    CostMap costs;
    const char* all;
    const char* shortest;
    const char* longest;
  } cases[] = {
      {diamond, "a", "d", {}, "a b d | a c d", "a c d", "a b d = 3"},
      {"a>c a>b b>d c>d", "a", "d", {}, "a b d | a c d", "a b d", "a b d = 3"},
      {diamond, "b", "b", {{"b", 2.5}}, "b", "b", "b = 2.5"},
      {diamond, "d", "a", {}, "", "none", "none"},
      {"a>e a>e", "a", "e", {}, "a e | a e", "a e", "a e = 2"},
      {diamond, "a", "d", {{"c", 4.0}, {"zz", 99.0}}, "a b d | a c d", "a c d", "a c d = 6"},
      {diamond, "a", "a", {{"a", kNaN}}, "a", "a", "a = nan"},
      {diamond, "a", "d", {{"a", kNaN}}, "a b d | a c d", "a c d", "none"},
      {diamond, "a", "b", {{"b", -kInf}}, "a b", "a b", "none"},
      {diamond, "a", "d", {{"b", kNaN}}, "a b d | a c d", "a c d", "a c d = 3"},
  };
  for (const auto& c : cases) {
    TestDag dag;
    testing::build(dag, c.graph);
    SCOPED_TRACE(std::string(c.graph) + " from " + c.from);
    EXPECT_EQ(paths(dag, c.from, c.to), c.all);
    EXPECT_EQ(paths(dag, c.from, c.to, 1),
              std::string(c.all).substr(0, std::string(c.all).find(" |")));
    // A limit of 0 still gives a node its path to itself.
    EXPECT_EQ(paths(dag, c.from, c.to, 0), std::string(c.from) == c.to ? c.all : "");
    auto fewest = shortest_path(dag, c.from, c.to).value();
    EXPECT_EQ(fewest ? text(*fewest) : "none", c.shortest);
    std::ostringstream longest;
    if (auto found = longest_path(dag, c.from, c.to, c.costs).value())
      longest << text(found->path) << " = " << found->total;
    EXPECT_EQ(longest.str().empty() ? "none" : longest.str(), c.longest);
  }
  TestDag dag;
  testing::build(dag, diamond);
  // Missing names: the source is reported first.
  EXPECT_EQ(all_paths(dag, "x", "y", std::nullopt).error(), TorvexError::node_not_found("x"));
  EXPECT_EQ(shortest_path(dag, "a", "y").error(), TorvexError::node_not_found("y"));
  EXPECT_EQ(longest_path(dag, "x", "a", {}).error(), TorvexError::node_not_found("x"));
}

// Every path by plain recursion, successors in name order, one visit per edge: an oracle for
// small graphs only.
void enumerate(const TestDag& dag, NodeIndex target, IndexList& path, std::vector<Names>& out) {
  if (path.back() == target)
    return out.push_back(testing::names(dag, path));
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
  const auto names = [](const std::vector<NodeId>& ids) {
    Names out;
    for (const NodeId& id : ids)
      out.push_back(id.name);
    return out;
  };
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
      if (i != j) {
        ASSERT_TRUE(dag.add_edge(id[std::min(i, j)], id[std::max(i, j)], {}, {}).ok());
      }
    }
    for (const auto& from : id) {
      for (const auto& to : id) {
        std::vector<Names> all;
        IndexList start{*dag.find(from)};
        enumerate(dag, *dag.find(to), start, all);
        const auto listed = [&](std::optional<std::size_t> limit) {
          std::vector<Names> got;
          for (const auto& path : all_paths(dag, from, to, limit).value())
            got.push_back(names(path));
          return got;
        };
        ASSERT_EQ(listed(std::nullopt), all);
        ASSERT_EQ(listed(2), std::vector<Names>(
                                 all.begin(), all.begin() + std::min<std::size_t>(2, all.size())));
        const auto fewest = shortest_path(dag, from, to).value();
        const auto best = longest_path(dag, from, to, costs).value();
        ASSERT_EQ(fewest.has_value(), !all.empty());
        ASSERT_EQ(best.has_value(), !all.empty());
        if (all.empty())
          continue;
        const auto total = [&](const Names& p) {
          double sum = 0;
          for (const auto& name : p)
            sum += costs[name];
          return sum;
        };
        EXPECT_NE(std::find(all.begin(), all.end(), names(*fewest)), all.end());
        EXPECT_NE(std::find(all.begin(), all.end(), names(best->path)), all.end());
        for (const Names& p : all) {
          EXPECT_LE(fewest->size(), p.size());
          EXPECT_LE(total(p), best->total);
        }
        EXPECT_EQ(total(names(best->path)), best->total);
      }
    }
  }
}

}  // namespace
}  // namespace torvex
