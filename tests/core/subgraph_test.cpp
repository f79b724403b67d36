#include "algorithms/subgraph.hpp"

#include <gtest/gtest.h>

#include <set>

#include "test_support.hpp"

namespace torvex {
namespace {

using testing::add_edges;
using testing::add_nodes;
using testing::TestDag;
using NameSet = std::set<std::string>;
constexpr auto kForward = algorithms::kNeighborhoodForward;
constexpr auto kBackward = algorithms::kNeighborhoodBackward;
constexpr auto kBoth = algorithms::kNeighborhoodBoth;

NameSet around(const TestDag& dag, const char* start, std::uint64_t depth, std::uint8_t direction) {
  auto found = algorithms::depth_neighborhood(dag.graph(), *dag.find(start), depth, direction);
  NameSet out;
  for (NodeIndex n : found)
    out.emplace(dag.graph().name(n));
  EXPECT_EQ(out.size(), found.size()) << "a node is reported twice";
  return out;
}

TEST(DepthNeighborhoodTest, ChainAndShortcut) {
  TestDag dag;
  add_nodes(dag, {"a", "b", "c", "d"});
  add_edges(dag, {{"a", "b"}, {"b", "c"}, {"c", "d"}});
  for (auto direction : {kForward, kBackward, kBoth})
    EXPECT_EQ(around(dag, "b", 0, direction), NameSet{"b"});
  EXPECT_EQ(around(dag, "b", 1, kForward), (NameSet{"b", "c"}));
  EXPECT_EQ(around(dag, "b", UINT64_MAX, kForward), (NameSet{"b", "c", "d"}));
  EXPECT_EQ(around(dag, "b", 1, kBackward), (NameSet{"a", "b"}));
  EXPECT_EQ(around(dag, "b", 1, kBoth), (NameSet{"a", "b", "c"}));
  EXPECT_EQ(around(dag, "b", 1, 7), (NameSet{"a", "b", "c"}));  // any other code means both
  EXPECT_EQ(around(dag, "a", 2, kForward), (NameSet{"a", "b", "c"}));
  add_edges(dag, {{"a", "c"}});  // the shorter path decides
  EXPECT_EQ(around(dag, "a", 2, kForward), (NameSet{"a", "b", "c", "d"}));
}

TEST(DepthNeighborhoodTest, SiblingsAreTwoHopsApart) {
  TestDag dag;
  add_nodes(dag, {"a", "b", "c", "lone", "gone"});
  add_edges(dag, {{"a", "b"}, {"a", "c"}, {"gone", "a"}});
  ASSERT_TRUE(dag.remove_node("gone").ok());
  EXPECT_EQ(around(dag, "b", 1, kBoth), (NameSet{"a", "b"}));
  EXPECT_EQ(around(dag, "b", 2, kBoth), (NameSet{"a", "b", "c"}));
  EXPECT_EQ(around(dag, "b", 2, kBackward), (NameSet{"a", "b"}));
  EXPECT_EQ(around(dag, "lone", 9, kBoth), NameSet{"lone"});
  EXPECT_EQ(algorithms::depth_neighborhood(dag.graph(), 4, 3, kBoth), IndexList{4});  // vacant
}

}  // namespace
}  // namespace torvex
