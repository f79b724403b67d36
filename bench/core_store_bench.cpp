// Store benchmark: a random DAG of N nodes and 5N edges inserted in random order (each edge
// cycle-checked), the three cached orders, and a long chain through every deep algorithm.
// Usage: core_store_bench [nodes=1000000] [chain=10000000]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "algorithms/traversal.hpp"
#include "graph/dag.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

long peak_rss_mib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

template <class F>
void timed(const char* what, F&& f) {
  const auto start = Clock::now();
  f();
  std::printf("%-40s %8.3f s   peak RSS %ld MiB\n", what, seconds_since(start), peak_rss_mib());
}

void random_dag(std::size_t n) {
  std::mt19937_64 rng(42);
  // Ranks fix a hidden topological order; edges run from lower to higher rank.
  std::vector<std::uint32_t> rank(n);
  std::iota(rank.begin(), rank.end(), 0);
  std::shuffle(rank.begin(), rank.end(), rng);
  std::vector<std::pair<std::uint32_t, std::uint32_t>> edges;
  edges.reserve(5 * n);
  while (edges.size() < 5 * n) {
    std::uint32_t a = rng() % n, b = rng() % n;
    if (a == b)
      continue;
    if (rank[a] > rank[b])
      std::swap(a, b);
    edges.emplace_back(a, b);
  }
  std::vector<std::string> names(n);
  for (std::size_t i = 0; i < n; ++i)
    names[i] = "node" + std::to_string(i);

  torvex::DAG<int> dag;
  timed("add_node x N", [&] {
    for (auto& name : names)
      (void)dag.add_node(name, 0);
  });
  std::size_t refused = 0;
  timed("add_edge x 5N (random order)", [&] {
    for (auto [a, b] : edges)
      refused += !dag.add_edge(names[a], names[b], {}, {}).ok();
  });
  std::printf("  refused edges: %zu\n", refused);
  timed("topological_sort (Kahn)", [&] { (void)dag.topological_sort(); });
  timed("topological_sort_dfs", [&] { (void)dag.topological_sort_dfs(); });
  timed("topological_levels", [&] { (void)dag.topological_levels(); });
  timed("cached topological_sort (hit)", [&] { (void)dag.topological_sort(); });
}

void chain(std::size_t n) {
  torvex::DAG<int> dag;
  timed("chain: add nodes and edges", [&] {
    std::string prev;
    for (std::size_t i = 0; i < n; ++i) {
      std::string name = std::to_string(i);
      (void)dag.add_node(name, 0);
      if (i)
        (void)dag.add_edge(prev, name, {}, {});
      prev = std::move(name);
    }
  });
  timed("chain: Kahn", [&] { (void)dag.topological_sort(); });
  timed("chain: depth-first", [&] { (void)dag.topological_sort_dfs(); });
  timed("chain: levels", [&] { (void)dag.topological_levels(); });
  timed("chain: bfs descendants of the head", [&] {
    (void)torvex::algorithms::bfs_directed(dag.graph(), 0, torvex::Direction::Outgoing);
  });
  timed("chain: validate", [&] { (void)dag.validate(); });
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t nodes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
  const std::size_t chain_length = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 10000000;
  std::printf("random DAG: %zu nodes, %zu edges\n", nodes, 5 * nodes);
  random_dag(nodes);
  std::printf("chain of %zu nodes\n", chain_length);
  chain(chain_length);
  return 0;
}
