#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "algorithms/cycle.hpp"
#include "algorithms/dominators.hpp"
#include "algorithms/node_set.hpp"
#include "algorithms/transforms.hpp"
#include "algorithms/toposort.hpp"
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
  ASSERT_EQ(components.count(), 3u);
  EXPECT_EQ(names(dag, components.nodes), (Names{"c", "b", "a"}));  // completion order
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

namespace torvex {
namespace {

// The store never holds a cycle, so build one in a bare StableGraph to check the reports.
TEST(ValidationTest, CyclicGraphsAreReported) {
  StableGraph g;
  for (const char* name : {"a", "b", "c", "d", "s"}) ASSERT_TRUE(g.add_node(name).ok());
  auto edge = [&](NodeIndex x, NodeIndex y) { ASSERT_TRUE(g.add_edge(x, y, 1.0, nullptr).ok()); };
  edge(0, 1);
  edge(1, 2);
  edge(2, 0);
  edge(4, 4);
  auto report = algorithms::validate_acyclic(g);
  ASSERT_FALSE(report.ok());
  EXPECT_EQ(report.error().kind(), ErrorKind::Cycle);
  EXPECT_EQ(report.error().text(), "Graph contains 2 cycle(s): [c -> b -> a, s]");
  // Within a component the nodes come in the order they finish, which is not the reverse of
  // their discovery: r reaches b first (its newest edge), b finishes, then a, then r.
  StableGraph fan;
  for (const char* name : {"r", "a", "b"}) ASSERT_TRUE(fan.add_node(name).ok());
  for (auto [x, y] : {std::pair(0, 1), {1, 0}, {0, 2}, {2, 0}}) {
    ASSERT_TRUE(fan.add_edge(x, y, 1.0, nullptr).ok());
  }
  EXPECT_EQ(algorithms::validate_acyclic(fan).error().text(),
            "Graph contains 1 cycle(s): [b -> a -> r]");
  for (const auto& failure :
       {algorithms::topological_sort_kahn(g).ok(), algorithms::topological_sort_dfs(g).ok(),
        algorithms::topological_levels(g).ok(),
        algorithms::all_topological_orderings(g, std::nullopt).ok()}) {
    EXPECT_FALSE(failure);
  }
  EXPECT_EQ(algorithms::topological_sort_kahn(g).error().text(), "Graph contains a cycle");
  // d is ready, so a limit of 0 stops before the cycle is met.
  EXPECT_TRUE(algorithms::all_topological_orderings(g, 0).value().empty());
  EXPECT_EQ(algorithms::immediate_dominators(g, 0).error().kind(), ErrorKind::Cycle);
  EXPECT_TRUE(algorithms::immediate_dominators(g, 3).ok());
  EXPECT_TRUE(algorithms::transitive_reduction_redundant_edges(g).empty());
  // Ordered nodes with an edge into the cycle: f -> d -> e, f -> e, d -> a.
  const NodeIndex f = g.add_node("f").value(), e = g.add_node("e").value();
  for (auto [x, y] : {std::pair(f, NodeIndex{3}), {f, e}, {NodeIndex{3}, e}, {NodeIndex{3}, 0}}) {
    ASSERT_TRUE(g.add_edge(x, y, 1.0, nullptr).ok());
  }
  EXPECT_EQ(algorithms::transitive_reduction_redundant_edges(g).sorted(),
            (std::vector<algorithms::NodePair>{{f, e}}));
}

// Search marks start in a hash table and move to a flat array part way: both agree with the
// standard containers through the move.
TEST(NodeMarksTest, AgreeWithStandardContainersAcrossTheMove) {
  std::mt19937 rng(9);
  for (NodeIndex bound : {NodeIndex{1}, NodeIndex{70}, NodeIndex{5000}}) {
    algorithms::NodeSet set(bound);
    algorithms::NodeIndexMap map(bound);
    std::set<NodeIndex> want_set;
    std::map<NodeIndex, NodeIndex> want_map;
    for (int step = 0; step < 3000; ++step) {
      const NodeIndex n = rng() % bound;
      if (rng() % 4 == 0) {
        set.erase(n);
        want_set.erase(n);
      } else {
        ASSERT_EQ(set.insert(n), want_set.insert(n).second);
      }
      const NodeIndex value = rng() % 1000;
      ASSERT_EQ(map.try_emplace(n, value), want_map.try_emplace(n, value).second);
      const NodeIndex probe = rng() % bound;
      ASSERT_EQ(set.contains(probe), want_set.contains(probe));
      ASSERT_EQ(map.find(probe), want_map.contains(probe) ? want_map[probe] : kEnd);
    }
  }
}

}  // namespace
}  // namespace torvex
