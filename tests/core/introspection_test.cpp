#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <set>

#include "algorithms/cycle.hpp"
#include "algorithms/dominators.hpp"
#include "algorithms/node_set.hpp"
#include "algorithms/subgraph.hpp"
#include "algorithms/toposort.hpp"
#include "algorithms/transforms.hpp"
#include "algorithms/traversal.hpp"
#include "graph/incremental.hpp"
#include "graph/partition.hpp"
#include "graph/paths.hpp"
#include "graph/scheduling.hpp"
#include "graph/serialization.hpp"
#include "graph/stats.hpp"
#include "graph/transforms.hpp"
#include "test_support.hpp"

namespace torvex {
namespace {

using testing::TestDag;
using testing::text;

TEST(IntrospectionTest, NeighboursNewestFirstScansInSlotOrder) {
  TestDag dag;
  EXPECT_TRUE(dag.nodes().empty() && dag.edges().empty() && dag.roots()->empty());
  EXPECT_TRUE(dag.leaves()->empty());
  testing::build(dag, "z m a lone a>b a>c a>b z>m a>m");
  EXPECT_EQ(text(dag, dag.successors("a").value()), "m b c b");
  EXPECT_EQ(text(dag, dag.predecessors("b").value()), "a a");
  EXPECT_EQ(dag.out_degree("a").value() + dag.in_degree("m").value(), 6u);
  EXPECT_EQ(dag.successors("zz").error(), TorvexError::node_not_found("zz"));
  EXPECT_EQ(dag.in_degree("zz").error(), TorvexError::node_not_found("zz"));
  EXPECT_EQ(text(dag, *dag.roots()), "z a lone");
  EXPECT_EQ(text(dag, *dag.leaves()), "m lone b c");
  EXPECT_EQ(dag.graph().name(dag.edges()[1].second), "c");  // edge slot order
  EXPECT_TRUE(dag.is_ancestor("a", "a").value() && dag.is_ancestor("z", "m").value());
  EXPECT_FALSE(dag.is_ancestor("m", "z").value());
}

TEST(IntrospectionTest, BreadthFirstDiscoveryOrder) {
  TestDag dag;
  testing::build(dag, "a>b>d a>c>d");
  const StableGraph& g = dag.graph();
  EXPECT_EQ(text(dag, algorithms::bfs_directed(g, 0, Direction::Outgoing)), "c b d");
  EXPECT_EQ(text(dag, algorithms::bfs_directed(g, 2, Direction::Incoming)), "c b a");
  EXPECT_TRUE(algorithms::bfs_directed(g, 0, Direction::Incoming).empty());
  EXPECT_TRUE(algorithms::bfs_directed(g, kEnd - 1, Direction::Outgoing).empty());
  // Tarjan on a DAG: singletons in completion order.
  auto components = algorithms::tarjan_scc(g);
  EXPECT_EQ(components.count(), 4u);
  EXPECT_EQ(text(dag, components.nodes), "d c b a");  // a reaches c first, its newest edge
}

// The store never holds a cycle, so build one in a bare StableGraph to check the reports.
TEST(ValidationTest, CyclicGraphsAreReported) {
  StableGraph g;
  for (const char* name : {"a", "b", "c", "d", "s"})
    ASSERT_TRUE(g.add_node(name).ok());
  auto edge = [&](NodeIndex x, NodeIndex y) { ASSERT_TRUE(g.add_edge(x, y, 1.0, nullptr).ok()); };
  edge(0, 1);
  edge(1, 2);
  edge(2, 0);
  edge(4, 4);
  auto report = algorithms::validate_acyclic(g);
  EXPECT_EQ(report.error(), TorvexError::cycle("Graph contains 2 cycle(s): [c -> b -> a, s]"));
  // Within a component the nodes come in the order they finish, which is not the reverse of
  // their discovery: r reaches b first (its newest edge), b finishes, then a, then r.
  StableGraph fan;
  for (const char* name : {"r", "a", "b"})
    ASSERT_TRUE(fan.add_node(name).ok());
  for (auto [x, y] : {std::pair(0, 1), {1, 0}, {0, 2}, {2, 0}})
    ASSERT_TRUE(fan.add_edge(x, y, 1.0, nullptr).ok());
  EXPECT_EQ(algorithms::validate_acyclic(fan).error().text(),
            "Graph contains 1 cycle(s): [b -> a -> r]");
  const TorvexError kCycle = TorvexError::cycle("Graph contains a cycle");
  EXPECT_EQ(algorithms::topological_sort_kahn(g).error(), kCycle);
  EXPECT_EQ(algorithms::topological_sort_dfs(g).error(), kCycle);
  EXPECT_EQ(algorithms::topological_levels(g).error(), kCycle);
  EXPECT_EQ(algorithms::all_topological_orderings(g, std::nullopt).error(), kCycle);
  // d is ready, so a limit of 0 stops before the cycle is met.
  EXPECT_TRUE(algorithms::all_topological_orderings(g, 0).value().empty());
  EXPECT_EQ(algorithms::immediate_dominators(g, 0).error().kind(), ErrorKind::Cycle);
  EXPECT_TRUE(algorithms::immediate_dominators(g, 3).ok());
  EXPECT_TRUE(algorithms::transitive_reduction_redundant_edges(g).empty());
  // Ordered nodes with an edge into the cycle: f -> d -> e, f -> e, d -> a.
  const NodeIndex f = g.add_node("f").value(), e = g.add_node("e").value();
  for (auto [x, y] : {std::pair(f, NodeIndex{3}), {f, e}, {NodeIndex{3}, e}, {NodeIndex{3}, 0}})
    ASSERT_TRUE(g.add_edge(x, y, 1.0, nullptr).ok());
  EXPECT_EQ(algorithms::transitive_reduction_redundant_edges(g).sorted(),
            (std::vector<algorithms::NodePair>{{f, e}}));
}

// Nothing recurses along the graph: one long chain through every order, traversal, search and
// form. Each row gives the chain's length when right.
TEST(ScaleTest, LongChainThroughEveryAlgorithm) {
  constexpr std::size_t n = 200'000;
  TestDag dag;
  for (NodeIndex i = 0; i < n; ++i) {
    ASSERT_TRUE(dag.add_node(std::to_string(i), 0).ok());
    if (i > 0) {
      ASSERT_TRUE(dag.add_edge(i - 1, i, std::nullopt, std::nullopt).ok());
    }
  }
  const StableGraph& g = dag.graph();
  const std::string first = "0", last = std::to_string(n - 1);
  const std::vector<std::string> start{first};
  const auto size = [](const auto& list) { return list.size(); };
  const std::pair<const char*, std::function<std::size_t()>> rows[] = {
      {"validate", [&] { return dag.validate().ok() ? n : 0; }},
      {"kahn", [&] { return size(*dag.topological_sort().value()); }},
      {"depth-first", [&] { return size(*dag.topological_sort_dfs().value()); }},
      {"levels", [&] { return size(*dag.topological_levels().value()); }},
      {"priority", [&] { return size(topological_sort_priority(dag, {}).value()); }},
      {"priority levels", [&] { return size(topological_levels_priority(dag, {}).value()); }},
      {"orderings", [&] { return size(dag.all_topological_orderings(1).value().at(0)); }},
      {"descendants",
       [&] { return size(algorithms::bfs_directed(g, 0, Direction::Outgoing)) + 1; }},
      {"ancestors",
       [&] { return size(algorithms::bfs_directed(g, n - 1, Direction::Incoming)) + 1; }},
      {"is_ancestor", [&] { return dag.is_ancestor(first, last).value() ? n : 0; }},
      {"all_paths", [&] { return size(all_paths(dag, first, last, std::nullopt).value().at(0)); }},
      {"shortest_path", [&] { return size(*shortest_path(dag, first, last).value()); }},
      {"longest_path", [&] { return size(longest_path(dag, first, last, {}).value()->path); }},
      {"critical_path", [&] { return size(critical_path(dag, {}).value().path); }},
      {"bottom_levels", [&] { return size(bottom_levels(dag, {})); }},
      {"level plan", [&] { return size(execution_plan(dag, {}).value().steps); }},
      {"constrained plan",
       [&] { return size(execution_plan_constrained(dag, 3, {}).value().steps); }},
      {"dominators", [&] { return size(dominator_tree(dag, first).value()); }},
      {"dirty_set", [&] { return size(dirty_set(dag, start).value()); }},
      {"change_provenance", [&] { return size(change_provenance(dag, start).value()); }},
      {"neighbourhood",
       [&] {
         return size(algorithms::depth_neighborhood(g, n / 2, n, algorithms::kNeighborhoodBoth));
       }},
      {"stats", [&] { return stats(dag).value().depth; }},
      {"partition",
       [&] {
         std::size_t total = 0;
         for (const auto& part : partition_communication_min(dag, 4, {}, 2, 0.5).value().partitions)
           total += part.node_names.size();
         return total;
       }},
      {"reduction",
       [&] { return n - size(algorithms::transitive_reduction_redundant_edges(g).sorted()); }},
      {"json",
       [&] {
         TestDag copy;
         return from_json_into(to_json(dag).value(), copy).ok() ? copy.edge_count() + 1 : 0;
       }},
  };
  for (const auto& [what, run] : rows)
    EXPECT_EQ(run(), n) << what;
  EXPECT_TRUE(testing::is_topo_order(dag, *dag.topological_sort().value()));
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
