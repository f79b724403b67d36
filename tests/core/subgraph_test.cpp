#include "algorithms/subgraph.hpp"

#include <gtest/gtest.h>

#include <set>

#include "test_support.hpp"

namespace torvex {
namespace {

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

// Up to `depth` hops along the chosen directions (any code but forward and backward means
// both), the shorter path deciding; siblings are two hops apart.
TEST(DepthNeighborhoodTest, WorkedExamples) {
  const char* chain = "a>b>c>d";
  const struct {
    const char* graph;
    const char* start;
    std::uint64_t depth;
    std::uint8_t direction;
    NameSet expected;
  } cases[] = {
      {chain, "b", 0, kForward, {"b"}},
      {chain, "b", 0, kBackward, {"b"}},
      {chain, "b", 0, kBoth, {"b"}},
      {chain, "b", 1, kForward, {"b", "c"}},
      {chain, "b", UINT64_MAX, kForward, {"b", "c", "d"}},
      {chain, "b", 1, kBackward, {"a", "b"}},
      {chain, "b", 1, kBoth, {"a", "b", "c"}},
      {chain, "b", 1, 7, {"a", "b", "c"}},
      {chain, "a", 2, kForward, {"a", "b", "c"}},
      {"a>b>c>d a>c", "a", 2, kForward, {"a", "b", "c", "d"}},
      {"a>b a>c lone", "b", 1, kBoth, {"a", "b"}},
      {"a>b a>c lone", "b", 2, kBoth, {"a", "b", "c"}},
      {"a>b a>c lone", "b", 2, kBackward, {"a", "b"}},
      {"a>b a>c lone", "lone", 9, kBoth, {"lone"}},
  };
  for (const auto& c : cases) {
    TestDag dag;
    testing::build(dag, c.graph);
    EXPECT_EQ(around(dag, c.start, c.depth, c.direction), c.expected) << c.graph << " " << c.start;
  }
  TestDag dag;
  testing::build(dag, "a gone>a");
  ASSERT_TRUE(dag.remove_node("gone").ok());
  EXPECT_EQ(algorithms::depth_neighborhood(dag.graph(), 1, 3, kBoth), IndexList{1});  // vacant
  EXPECT_EQ(around(dag, "a", 3, kBoth), NameSet{"a"});
}

}  // namespace
}  // namespace torvex
