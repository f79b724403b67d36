#include "graph/reachability.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <random>

#include "algorithms/toposort.hpp"
#include "algorithms/traversal.hpp"
#include "test_support.hpp"

namespace torvex {
namespace {

using testing::TestDag;
using Views = std::vector<std::string_view>;

NamedReachabilityIndex build(const TestDag& dag) {
  auto index = build_reachability_index(dag);
  EXPECT_TRUE(index.ok());
  return std::move(index).value();
}

// Lists come in the Kahn order of the build; the index answers for the graph as it was built,
// whatever happens to the graph (or the index's place) later.
TEST(ReachabilityTest, WorkedExamples) {
  TestDag empty;
  auto none = build(empty);
  EXPECT_EQ(none.node_count(), 0u);
  EXPECT_FALSE(none.index().can_reach(0, 0));
  EXPECT_EQ(none.ancestors_of("a").error(), TorvexError::node_not_found("a"));

  TestDag dag;
  testing::build(dag, "a>b>c z>m a>m a>b");
  const NodeIndex c = *dag.find("c");
  auto index = build(dag);
  ASSERT_TRUE(dag.remove_node("c").ok());
  testing::build(dag, "d");  // takes c's slot
  ASSERT_EQ(*dag.find("d"), c);
  EXPECT_TRUE(index.can_reach("a", "c").value());
  EXPECT_TRUE(index.index().can_reach(*dag.find("a"), c));
  EXPECT_EQ(index.reachable_from("a").value(), (Views{"b", "m", "c"}));
  EXPECT_EQ(index.ancestors_of("c").value(), (Views{"a", "b"}));
  EXPECT_EQ(index.ancestors_of("m").value(), (Views{"a", "z"}));  // not insertion order
  EXPECT_EQ(index.can_reach("x", "nope").error(), TorvexError::node_not_found("x"));
  EXPECT_EQ(index.can_reach("a", "d").error(), TorvexError::node_not_found("d"));
  EXPECT_EQ(index.node_count(), 5u);
  auto moved = std::move(index);
  EXPECT_EQ(moved.ancestors_of("c").value(), (Views{"a", "b"}));
}

// Random graphs across several words per row, against breadth-first search.
TEST(ReachabilityTest, AgreesWithTraversal) {
  std::mt19937 rng(11);
  for (int n : {1, 63, 64, 65, 130, 200}) {
    TestDag dag;
    std::vector<std::string> id;
    for (int i = 0; i < n; ++i) {
      id.push_back("n" + std::to_string(rng() % 1000) + "_" + std::to_string(i));
      ASSERT_TRUE(dag.add_node(id.back(), 0).ok());
    }
    for (int e = 0; e < 2 * n; ++e) {
      int i = static_cast<int>(rng() % n), j = static_cast<int>(rng() % n);
      if (i == j)
        continue;
      ASSERT_TRUE(dag.add_edge(id[std::min(i, j)], id[std::max(i, j)], {}, {}).ok());
    }
    auto built = algorithms::ReachabilityIndex::build(dag.graph());
    ASSERT_TRUE(built.ok());
    const auto& index = *built;
    const IndexList kahn = algorithms::topological_sort_kahn(dag.graph()).value();
    ASSERT_EQ(index.order(), kahn);
    ASSERT_EQ(index.words_per_row(), (std::size_t(n) + 63) / 64);
    // Expected: traversal results listed in Kahn order.
    const auto in_kahn_order = [&](NodeIndex u, Direction d) {
      const IndexList found = algorithms::bfs_directed(dag.graph(), u, d);
      IndexList listed;
      std::copy_if(kahn.begin(), kahn.end(), std::back_inserter(listed), [&](NodeIndex k) {
        return std::find(found.begin(), found.end(), k) != found.end();
      });
      return listed;
    };
    for (NodeIndex u : kahn) {
      const IndexList below = in_kahn_order(u, Direction::Outgoing);
      ASSERT_EQ(index.reachable_from(u), below);
      ASSERT_EQ(index.ancestors_of(u), in_kahn_order(u, Direction::Incoming));
      for (NodeIndex v : kahn) {
        const bool reached = u == v || std::find(below.begin(), below.end(), v) != below.end();
        ASSERT_EQ(index.can_reach(u, v), reached);
      }
    }
    EXPECT_FALSE(index.can_reach(kahn[0], dag.graph().node_bound()));
    EXPECT_TRUE(index.ancestors_of(dag.graph().node_bound() + 5).empty());
  }
}

// Rows for three million nodes would need over a terabyte: refused, not a crash.
TEST(ReachabilityTest, OversizedIndexThrowsBadAlloc) {
  TestDag dag;
  for (int i = 0; i < 3'000'000; ++i)
    ASSERT_TRUE(dag.add_node(std::to_string(i), 0).ok());
  EXPECT_THROW((void)build_reachability_index(dag), std::bad_alloc);
}

}  // namespace
}  // namespace torvex
