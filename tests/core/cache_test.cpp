#include <gtest/gtest.h>

#include <thread>

#include "test_support.hpp"

namespace torvex {
namespace {

using testing::TestDag;

void read_all(const TestDag& dag) {
  (void)dag.roots();
  (void)dag.leaves();
  (void)dag.topological_sort();
  (void)dag.topological_sort_dfs();
  (void)dag.topological_levels();
}

// Five lists are cached, an empty one too; a successful structural change empties the cache
// and keeps the counters, a refused one or a payload change leaves it, and clearing keeps the
// counters.
TEST(CacheTest, FillsCountsAndEmpties) {
  TestDag dag;
  EXPECT_EQ(dag.cache_hits() + dag.cache_misses() + dag.cache_size(), 0u);
  read_all(dag);
  read_all(dag);
  EXPECT_EQ(dag.cache_size(), 5u);
  EXPECT_EQ(dag.cache_misses(), 5u);
  EXPECT_EQ(dag.cache_hits(), 5u);
  testing::build(dag, "a>b");
  EXPECT_EQ(dag.cache_size(), 0u);
  EXPECT_EQ(dag.cache_hits() + dag.cache_misses(), 10u);
  (void)dag.roots();
  ASSERT_FALSE(dag.add_edge("b", "a", std::nullopt, std::nullopt).ok());
  ASSERT_FALSE(dag.remove_edge("b", "a").ok());
  *dag.get_payload_mut("a").value() = 3;
  (void)dag.roots();
  EXPECT_EQ(dag.cache_size(), 1u);
  EXPECT_EQ(dag.cache_hits(), 6u);
  dag.clear_cache();
  EXPECT_EQ(dag.cache_size(), 0u);
  (void)dag.roots();
  EXPECT_EQ(dag.cache_misses(), 7u);
}

TEST(CacheTest, CountsStayExactUnderConcurrentReaders) {
  TestDag dag;
  for (int i = 0; i < 200; ++i)
    ASSERT_TRUE(dag.add_node(std::to_string(i), 0).ok());
  constexpr int kThreads = 8, kReads = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kReads; ++i)
        (void)dag.topological_sort();
    });
  }
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(dag.cache_hits() + dag.cache_misses(), std::uint64_t{kThreads * kReads});
  EXPECT_GE(dag.cache_misses(), 1u);
}

}  // namespace
}  // namespace torvex
