// Helpers shared by the core test suites: small graph builders and named checkers.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "graph/dag.hpp"

namespace torvex::testing {

using TestDag = DAG<int>;

inline void add_nodes(TestDag& dag, std::initializer_list<const char*> names) {
  for (const char* n : names) ASSERT_TRUE(dag.add_node(n, 0).ok()) << n;
}

inline void add_edges(TestDag& dag,
                      std::initializer_list<std::pair<const char*, const char*>> edges) {
  for (auto [a, b] : edges) ASSERT_TRUE(dag.add_edge(a, b, std::nullopt, std::nullopt).ok());
}

inline std::vector<std::string> names(const GraphStore& dag, const IndexList& list) {
  std::vector<std::string> out;
  for (NodeIndex n : list) out.emplace_back(dag.graph().name(n));
  return out;
}

inline std::vector<std::vector<std::string>> names(const GraphStore& dag, const Levels& levels) {
  std::vector<std::vector<std::string>> out;
  for (const IndexList& level : levels) out.push_back(names(dag, level));
  return out;
}

// Fills an empty graph with a random DAG of n nodes for differential tests. Node i (slot i) is
// named "<r>_<i>" with r drawn below name_range, so name order differs from slot order; each
// earlier node gets an edge to it with probability 1 / edge_odds. on_node(name) runs after each
// node is added, before its edges, and may draw from rng too (a cost, a priority).
template <class OnNode>
void add_random_dag(TestDag& dag, std::mt19937& rng, int n, unsigned name_range,
                    unsigned edge_odds, OnNode&& on_node) {
  ASSERT_EQ(dag.graph().node_bound(), 0u);
  for (NodeIndex i = 0; i < static_cast<NodeIndex>(n); ++i) {
    const std::string name = std::to_string(rng() % name_range) + "_" + std::to_string(i);
    ASSERT_TRUE(dag.add_node(name, 0).ok());
    on_node(name);
    for (NodeIndex j = 0; j < i; ++j) {
      if (rng() % edge_odds == 0) {
        ASSERT_TRUE(dag.add_edge(j, i, std::nullopt, std::nullopt).ok());
      }
    }
  }
}

// Every edge runs forward in `order`, and `order` holds each live node exactly once.
inline ::testing::AssertionResult is_topo_order(const GraphStore& dag, const IndexList& order) {
  const StableGraph& g = dag.graph();
  std::vector<std::size_t> position(g.node_bound(), SIZE_MAX);
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (!g.is_live(order[i])) return ::testing::AssertionFailure() << "vacant slot " << order[i];
    if (position[order[i]] != SIZE_MAX) return ::testing::AssertionFailure() << "repeated node";
    position[order[i]] = i;
  }
  if (order.size() != g.node_count()) return ::testing::AssertionFailure() << "missing nodes";
  for (EdgeIndex e = 0; e < g.edge_bound(); ++e) {
    if (g.is_edge_live(e) && position[g.edge_source(e)] >= position[g.edge_target(e)]) {
      return ::testing::AssertionFailure() << "edge " << g.name(g.edge_source(e)) << " -> "
                                           << g.name(g.edge_target(e)) << " runs backwards";
    }
  }
  return ::testing::AssertionSuccess();
}

// Name index, counts and neighbour lists agree with the slots.
inline ::testing::AssertionResult check_store_invariants(const GraphStore& dag) {
  const StableGraph& g = dag.graph();
  std::size_t live = 0;
  for (NodeIndex n = 0; n < g.node_bound(); ++n) {
    if (!g.is_live(n)) continue;
    ++live;
    auto found = dag.find(g.name(n));
    if (!found || *found != n) return ::testing::AssertionFailure() << "name index of " << n;
    std::size_t out = 0;
    g.for_each_edge(n, Direction::Outgoing, [&](NodeIndex, EdgeIndex e) {
      out += g.edge_source(e) == n;
    });
    if (out != g.degree(n, Direction::Outgoing)) return ::testing::AssertionFailure() << "out list";
  }
  std::size_t edges = 0;
  for (EdgeIndex e = 0; e < g.edge_bound(); ++e) edges += g.is_edge_live(e);
  if (live != g.node_count() || edges != g.edge_count()) {
    return ::testing::AssertionFailure() << "counts";
  }
  return ::testing::AssertionSuccess();
}

}  // namespace torvex::testing
