#include <gtest/gtest.h>

#include "algorithms/cycle.hpp"
#include "algorithms/traversal.hpp"
#include "test_support.hpp"

namespace torvex {
namespace {

using testing::add_edges;
using testing::add_nodes;
using testing::names;
using testing::TestDag;
using Names = std::vector<std::string>;

TEST(IntrospectionTest, EmptyGraph) {
  TestDag dag;
  EXPECT_TRUE(dag.nodes().empty());
  EXPECT_TRUE(dag.edges().empty());
  EXPECT_TRUE(dag.roots()->empty());
  EXPECT_TRUE(dag.leaves()->empty());
}

TEST(IntrospectionTest, NeighbourListsAreNewestFirst) {
  TestDag dag;
  add_nodes(dag, {"a", "b", "c"});
  add_edges(dag, {{"a", "b"}, {"a", "c"}, {"a", "b"}});
  EXPECT_EQ(names(dag, dag.successors("a").value()), (Names{"b", "c", "b"}));
  EXPECT_EQ(names(dag, dag.predecessors("b").value()), (Names{"a", "a"}));
  EXPECT_EQ(dag.out_degree("a").value(), 3u);
  EXPECT_EQ(dag.in_degree("b").value(), 2u);
  EXPECT_EQ(dag.successors("zz").error().kind(), ErrorKind::NodeNotFound);
  // Edges list in slot order, not neighbour order.
  auto edges = dag.edges();
  ASSERT_EQ(edges.size(), 3u);
  EXPECT_EQ(dag.graph().name(edges[1].second), "c");
}

TEST(IntrospectionTest, RootsAndLeavesInSlotOrder) {
  TestDag dag;
  add_nodes(dag, {"z", "m", "a", "lone"});
  add_edges(dag, {{"z", "m"}, {"a", "m"}});
  EXPECT_EQ(names(dag, *dag.roots()), (Names{"z", "a", "lone"}));
  EXPECT_EQ(names(dag, *dag.leaves()), (Names{"m", "lone"}));
}

TEST(IntrospectionTest, BreadthFirstDiscoveryOrder) {
  TestDag dag;
  add_nodes(dag, {"a", "b", "c", "d"});
  add_edges(dag, {{"a", "b"}, {"a", "c"}, {"b", "d"}, {"c", "d"}});
  const StableGraph& g = dag.graph();
  const NodeIndex a = *dag.find("a"), d = *dag.find("d");
  EXPECT_EQ(names(dag, algorithms::bfs_directed(g, a, Direction::Outgoing)), (Names{"c", "b", "d"}));
  EXPECT_EQ(names(dag, algorithms::bfs_directed(g, d, Direction::Incoming)), (Names{"c", "b", "a"}));
  EXPECT_TRUE(algorithms::bfs_directed(g, a, Direction::Incoming).empty());
  EXPECT_TRUE(algorithms::bfs_directed(g, kEnd - 1, Direction::Outgoing).empty());
}

TEST(IntrospectionTest, IsAncestor) {
  TestDag dag;
  add_nodes(dag, {"a", "b", "c"});
  add_edges(dag, {{"a", "b"}, {"b", "c"}});
  EXPECT_TRUE(dag.is_ancestor("a", "c").value());
  EXPECT_FALSE(dag.is_ancestor("c", "a").value());
  EXPECT_TRUE(dag.is_ancestor("b", "b").value());
}

TEST(ValidationTest, StronglyConnectedComponentsOfACycle) {
  // The store refuses cycles, so exercise Tarjan on its own: a DAG has only singletons.
  TestDag dag;
  add_nodes(dag, {"a", "b", "c"});
  add_edges(dag, {{"a", "b"}, {"b", "c"}});
  auto components = algorithms::tarjan_scc(dag.graph());
  ASSERT_EQ(components.size(), 3u);
  EXPECT_EQ(names(dag, components[0]), (Names{"c"}));  // completed first
  EXPECT_TRUE(dag.validate().ok());
}

TEST(ScaleTest, LongChainNeedsNoDeepStack) {
  TestDag dag;
  constexpr int kLength = 200000;
  for (int i = 0; i < kLength; ++i) ASSERT_TRUE(dag.add_node(std::to_string(i), 0).ok());
  for (int i = 1; i < kLength; ++i) {
    ASSERT_TRUE(dag.add_edge(std::to_string(i - 1), std::to_string(i), std::nullopt, std::nullopt)
                    .ok());
  }
  EXPECT_TRUE(dag.validate().ok());
  EXPECT_EQ(dag.topological_sort_dfs().value()->size(), std::size_t{kLength});
  EXPECT_EQ(dag.topological_levels().value()->size(), std::size_t{kLength});
  EXPECT_EQ(algorithms::bfs_directed(dag.graph(), 0, Direction::Outgoing).size(),
            std::size_t{kLength - 1});
  EXPECT_TRUE(testing::is_topo_order(dag, *dag.topological_sort().value()));
}

}  // namespace
}  // namespace torvex
