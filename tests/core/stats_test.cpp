#include "graph/stats.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "test_support.hpp"

namespace torvex {
namespace {

using testing::TestDag;

TEST(StatsTest, EmptyGraphAndCacheLeftAlone) {
  TestDag dag;
  EXPECT_EQ(stats(dag).value(), GraphStatsResult{});  // all zeros, weakly connected
  testing::build(dag, "a>b b>c");
  const auto s = stats(dag).value();
  EXPECT_EQ(s.density, 2.0 / 6.0);
  EXPECT_EQ(s.longest_path_length, 2u);
  EXPECT_EQ(dag.cache_misses() + dag.cache_size(), 0u);
}

// Against a computation of its own on random graphs: parallel edges, isolated nodes and freed
// slots included. Nodes are named by their number and every edge runs from a lower to a higher
// number, so number order is a topological order.
TEST(StatsTest, MatchesAnIndependentComputation) {
  std::mt19937 rng(11);
  for (int round = 0; round < 200; ++round) {
    const int n = 1 + static_cast<int>(rng() % 12);
    std::vector<std::pair<int, int>> edges;
    for (int k = static_cast<int>(rng() % 30); k > 0; --k) {
      const int a = static_cast<int>(rng() % n), b = static_cast<int>(rng() % n);
      if (a != b)
        edges.emplace_back(std::min(a, b), std::max(a, b));
    }
    const int gone = rng() % 3 == 0 ? static_cast<int>(rng() % n) : -1;
    TestDag dag;
    for (int i = 0; i < n; ++i)
      ASSERT_TRUE(dag.add_node(std::to_string(i), 0).ok());
    for (auto [a, b] : edges)
      ASSERT_TRUE(dag.add_edge(std::to_string(a), std::to_string(b), {}, {}).ok());
    if (gone >= 0) {
      ASSERT_TRUE(dag.remove_node(std::to_string(gone)).ok());
      std::erase_if(edges, [&](auto e) { return e.first == gone || e.second == gone; });
    }

    std::vector<int> level(n, 0), in(n, 0), out(n, 0), parent(n);
    std::iota(parent.begin(), parent.end(), 0);
    auto find = [&](int v) {
      while (parent[v] != v)
        v = parent[v];
      return v;
    };
    std::sort(edges.begin(), edges.end());
    for (auto [a, b] : edges) {
      level[b] = std::max(level[b], level[a] + 1);
      ++out[a], ++in[b];
      parent[find(a)] = find(b);
    }
    std::vector<int> live, levels;
    for (int v = 0; v < n; ++v) {
      if (v != gone)
        live.push_back(v), levels.push_back(level[v]);
    }
    GraphStatsResult want;
    const auto count = [&](auto pick) {
      return static_cast<std::uint64_t>(std::count_if(live.begin(), live.end(), pick));
    };
    const auto most = [&](const std::vector<int>& of) {
      int best = 0;
      for (int v : live)
        best = std::max(best, of[v]);
      return static_cast<std::uint64_t>(best);
    };
    want.node_count = live.size();
    want.edge_count = edges.size();
    want.longest_path_length = static_cast<std::uint64_t>(
        live.empty() ? 0 : *std::max_element(levels.begin(), levels.end()));
    want.depth = live.empty() ? 0 : want.longest_path_length + 1;
    for (int l : levels) {
      want.width = std::max<std::uint64_t>(
          want.width, static_cast<std::uint64_t>(std::count(levels.begin(), levels.end(), l)));
    }
    const double m = static_cast<double>(edges.size()), nodes = static_cast<double>(live.size());
    want.density = live.size() > 1 ? m / (nodes * (nodes - 1)) : 0.0;
    want.avg_in_degree = want.avg_out_degree = live.empty() ? 0.0 : m / nodes;
    want.max_in_degree = most(in);
    want.max_out_degree = most(out);
    want.root_count = count([&](int v) { return in[v] == 0; });
    want.leaf_count = count([&](int v) { return out[v] == 0; });
    want.component_count = count([&](int v) { return find(v) == v; });
    want.is_weakly_connected = want.component_count < 2;
    ASSERT_EQ(stats(dag).value(), want) << "round " << round;
    EXPECT_EQ(count_weak_components(dag.graph()), want.component_count);
  }
}

}  // namespace
}  // namespace torvex
