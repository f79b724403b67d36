#include <gtest/gtest.h>

#include <thread>

#include "test_support.hpp"

namespace torvex {
namespace {

using testing::add_edges;
using testing::add_nodes;
using testing::TestDag;

void read_all(const TestDag& dag) {
  (void)dag.roots();
  (void)dag.leaves();
  (void)dag.topological_sort();
  (void)dag.topological_sort_dfs();
  (void)dag.topological_levels();
}

TEST(CacheTest, CountsHitsAndMisses) {
  TestDag dag;
  EXPECT_EQ(dag.cache_hits(), 0u);
  EXPECT_EQ(dag.cache_misses(), 0u);
  EXPECT_EQ(dag.cache_size(), 0u);
  (void)dag.roots();  // an empty list is cached too
  (void)dag.roots();
  EXPECT_EQ(dag.cache_misses(), 1u);
  EXPECT_EQ(dag.cache_hits(), 1u);
  EXPECT_EQ(dag.cache_size(), 1u);
}

TEST(CacheTest, StructuralChangesEmptyItButKeepCounters) {
  TestDag dag;
  add_nodes(dag, {"a", "b"});
  add_edges(dag, {{"a", "b"}});
  read_all(dag);
  EXPECT_EQ(dag.cache_size(), 5u);
  EXPECT_EQ(dag.cache_misses(), 5u);
  read_all(dag);
  EXPECT_EQ(dag.cache_hits(), 5u);
  add_nodes(dag, {"c"});
  EXPECT_EQ(dag.cache_size(), 0u);
  EXPECT_EQ(dag.cache_hits(), 5u);
  EXPECT_EQ(dag.cache_misses(), 5u);
  // A refused change leaves the cache filled.
  (void)dag.roots();
  ASSERT_FALSE(dag.add_edge("b", "a", std::nullopt, std::nullopt).ok());
  EXPECT_EQ(dag.cache_size(), 1u);
}

TEST(CacheTest, ClearKeepsCountersAndPayloadChangesKeepLists) {
  TestDag dag;
  add_nodes(dag, {"a"});
  (void)dag.roots();
  *dag.get_payload_mut("a").value() = 3;
  (void)dag.roots();
  EXPECT_EQ(dag.cache_hits(), 1u);
  dag.clear_cache();
  EXPECT_EQ(dag.cache_size(), 0u);
  (void)dag.roots();
  EXPECT_EQ(dag.cache_misses(), 2u);
  EXPECT_EQ(dag.cache_hits(), 1u);
}

TEST(CacheTest, CountsStayExactUnderConcurrentReaders) {
  TestDag dag;
  for (int i = 0; i < 200; ++i) ASSERT_TRUE(dag.add_node(std::to_string(i), 0).ok());
  constexpr int kThreads = 8, kReads = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kReads; ++i) (void)dag.topological_sort();
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(dag.cache_hits() + dag.cache_misses(), std::uint64_t{kThreads * kReads});
  EXPECT_GE(dag.cache_misses(), 1u);
}

}  // namespace
}  // namespace torvex
