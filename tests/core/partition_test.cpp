#include "algorithms/partition.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <random>

#include "graph/partition.hpp"
#include "test_support.hpp"

namespace torvex {
namespace {

using testing::add_edges;
using testing::add_nodes;
using testing::TestDag;
using Parts = std::vector<std::vector<std::string>>;
using Waves = std::vector<std::vector<std::uint64_t>>;

Parts parts_of(const NamedPartitionResult& result) {
  Parts out;
  for (const PartitionInfo& part : result.partitions)
    out.push_back(part.node_names);
  return out;
}

// Every node in exactly one non-empty part, ids positional, every edge from a lower or equal part
// to a higher or equal one, the cross-edge counters right, and each part in exactly one wave,
// after every part it receives edges from.
void check_partition(const TestDag& dag, const NamedPartitionResult& result) {
  const std::size_t n = result.partitions.size();
  std::map<std::string, std::uint64_t> part_of;
  for (std::size_t i = 0; i < n; ++i) {
    EXPECT_EQ(result.partitions[i].partition_id, i);
    EXPECT_FALSE(result.partitions[i].node_names.empty());
    for (const auto& name : result.partitions[i].node_names) {
      EXPECT_TRUE(part_of.emplace(name, i).second);
    }
  }
  ASSERT_EQ(part_of.size(), dag.node_count());
  std::vector<std::size_t> wave_of(n, SIZE_MAX);
  for (std::size_t w = 0; w < result.partition_order.size(); ++w) {
    for (std::uint64_t p : result.partition_order[w]) {
      ASSERT_TRUE(p < n && wave_of[p] == SIZE_MAX);
      wave_of[p] = w;
    }
  }
  std::vector<std::uint64_t> incoming(n), outgoing(n);
  std::uint64_t cross = 0;
  for (auto [from, to] : dag.edges()) {
    const std::uint64_t a = part_of.at(std::string(dag.graph().name(from)));
    const std::uint64_t b = part_of.at(std::string(dag.graph().name(to)));
    EXPECT_LE(a, b);
    if (a == b)
      continue;
    ++cross, ++outgoing[a], ++incoming[b];
    EXPECT_LT(wave_of[a], wave_of[b]);
  }
  EXPECT_EQ(result.cross_edge_count, cross);
  for (std::size_t i = 0; i < n; ++i) {
    EXPECT_EQ(result.partitions[i].incoming_cross_edges, incoming[i]);
    EXPECT_EQ(result.partitions[i].outgoing_cross_edges, outgoing[i]);
    EXPECT_NE(wave_of[i], SIZE_MAX);
  }
}

std::vector<NamedPartitionResult> all_strategies(const TestDag& dag, std::uint64_t k,
                                                 const CostMap& costs) {
  return {partition_level_based(dag, k, costs).value(), partition_balanced(dag, k, costs).value(),
          partition_communication_min(dag, k, costs, 10, 0.3).value()};
}

TEST(Partition, EmptyGraphAndKZero) {
  TestDag dag;
  for (const auto& result : all_strategies(dag, 3, {})) {
    EXPECT_TRUE(result.partitions.empty() && result.partition_order.empty());
    EXPECT_EQ(result.cross_edge_count, 0u);
  }
  add_nodes(dag, {"a", "b1", "b2", "c"});
  add_edges(dag, {{"a", "b1"}, {"a", "b2"}, {"b1", "c"}});
  for (std::uint64_t k : {0u, 1u}) {
    for (const auto& result : all_strategies(dag, k, {{"a", 2.5}, {"ghost", 100.0}})) {
      EXPECT_EQ(parts_of(result), (Parts{{"a", "b1", "b2", "c"}}));
      EXPECT_EQ(result.partition_order, (Waves{{0}}));
      EXPECT_EQ(result.partitions[0].total_cost, 5.5);
    }
  }
}

TEST(LevelBased, RunsOfLevels) {
  TestDag dag;  // levels [a] [b1 b2] [c] [d] [e]
  add_nodes(dag, {"a", "b1", "b2", "c", "d", "e"});
  add_edges(dag, {{"a", "b1"}, {"a", "b2"}, {"b1", "c"}, {"c", "d"}, {"d", "e"}});
  auto result = partition_level_based(dag, 4, {}).value();
  EXPECT_EQ(parts_of(result), (Parts{{"a", "b1", "b2"}, {"c", "d"}, {"e"}}));
  EXPECT_EQ(result.partition_order, (Waves{{0}, {1}, {2}}));
  EXPECT_EQ(parts_of(partition_level_based(dag, 50, {}).value()),
            (Parts{{"a"}, {"b1", "b2"}, {"c"}, {"d"}, {"e"}}));
  add_nodes(dag, {"f", "g"});
  add_edges(dag, {{"e", "f"}, {"f", "g"}});  // seven levels, k = 3: 3 + 3 + 1
  EXPECT_EQ(parts_of(partition_level_based(dag, 3, {}).value()),
            (Parts{{"a", "b1", "b2", "c"}, {"d", "e", "f"}, {"g"}}));
}

TEST(Balanced, GreedyCutAtTheTarget) {
  TestDag dag;
  add_nodes(dag, {"a", "b", "c", "d"});
  add_edges(dag, {{"a", "b"}, {"b", "c"}, {"c", "d"}});
  auto result = partition_balanced(dag, 2, {}).value();
  EXPECT_EQ(parts_of(result), (Parts{{"a", "b"}, {"c", "d"}}));
  EXPECT_EQ(result.partitions[0].total_cost, 2.0);
  EXPECT_EQ(result.cross_edge_count, 1u);
  EXPECT_EQ(result.partition_order, (Waves{{0}, {1}}));
  // The node that carries a part past the target stays in it.
  EXPECT_EQ(parts_of(partition_balanced(dag, 2, {{"a", 1.5}, {"c", 0.5}, {"d", 0.5}}).value()),
            (Parts{{"a", "b"}, {"c", "d"}}));
}

TEST(Balanced, EmptyPartsRemovedWithoutMemoryForK) {
  TestDag dag;
  add_nodes(dag, {"a", "b", "c"});
  add_edges(dag, {{"a", "b"}});
  for (std::uint64_t k : {std::uint64_t{10}, UINT64_MAX}) {
    EXPECT_EQ(parts_of(partition_balanced(dag, k, {}).value()), (Parts{{"a"}, {"c"}, {"b"}}));
    auto zero = partition_balanced(dag, k, {{"a", 0.0}, {"b", 0.0}, {"c", 0.0}}).value();
    EXPECT_EQ(parts_of(zero), (Parts{{"a", "c", "b"}}));
    EXPECT_EQ(zero.partitions[0].partition_id, 0u);
  }
  // A NaN target never closes a part.
  EXPECT_EQ(parts_of(partition_balanced(dag, 3, {{"a", std::nan("")}}).value()),
            (Parts{{"a", "c", "b"}}));
}

TEST(CommunicationMin, MovesWithinTheBalanceLimit) {
  TestDag dag;
  add_nodes(dag, {"x", "y", "z"});
  add_edges(dag, {{"x", "y"}, {"x", "z"}});
  auto tight = partition_communication_min(dag, 2, {}, 10, 0.3).value();
  EXPECT_EQ(parts_of(tight), (Parts{{"x"}, {"y", "z"}}));
  EXPECT_EQ(tight.cross_edge_count, 2u);
  // Limit 3.0: y moves back; z may not, as that would empty part 1.
  auto loose = partition_communication_min(dag, 2, {}, 10, 1.0).value();
  EXPECT_EQ(parts_of(loose), (Parts{{"x", "y"}, {"z"}}));
  EXPECT_EQ(loose.partitions[1].total_cost, 1.0);
  EXPECT_EQ(loose.cross_edge_count, 1u);
  EXPECT_EQ(loose.partition_order, (Waves{{0}, {1}}));
  // No pass at all; a NaN limit skips nothing on balance.
  EXPECT_EQ(parts_of(partition_communication_min(dag, 2, {}, 0, 1.0).value()), parts_of(tight));
  EXPECT_EQ(parts_of(partition_communication_min(dag, 2, {}, 10, std::nan("")).value()),
            parts_of(loose));

  // Moving y forward would trade one crossing edge for another, and the heavy x would keep it
  // from coming back: it stays.
  TestDag chain;
  add_nodes(chain, {"x", "y", "z"});
  add_edges(chain, {{"x", "y"}, {"y", "z"}});
  EXPECT_EQ(parts_of(partition_communication_min(chain, 2, {{"x", 2.5}}, 10, 0.3).value()),
            (Parts{{"x", "y"}, {"z"}}));
}

TEST(CommunicationMin, CandidateWindowsSpanTwoLevels) {
  // Start [a r b] [c d]: the root r (level 0, one below the highest) feeds only part 1.
  TestDag forward;
  add_nodes(forward, {"a", "b", "c", "d", "r"});
  add_edges(forward, {{"a", "b"}, {"b", "c"}, {"c", "d"}, {"r", "c"}, {"r", "d"}});
  EXPECT_EQ(parts_of(partition_communication_min(forward, 2, {}, 10, 1.0).value()),
            (Parts{{"a", "b"}, {"c", "d", "r"}}));

  // Start [a b] [c e d f g]: b is too heavy to move; c (level 2) and then d (level 3) move back;
  // e would cut one edge but add two; f and g wait for e.
  TestDag backward;
  add_nodes(backward, {"a", "b", "c", "d", "e", "f", "g"});
  add_edges(backward, {{"a", "b"},
                       {"a", "c"},
                       {"b", "c"},
                       {"c", "d"},
                       {"a", "d"},
                       {"b", "d"},
                       {"b", "e"},
                       {"e", "f"},
                       {"e", "g"}});
  auto result = partition_communication_min(backward, 2, {{"b", 10.0}}, 10, 0.75).value();
  EXPECT_EQ(parts_of(result), (Parts{{"a", "b", "c", "d"}, {"e", "f", "g"}}));
  EXPECT_EQ(result.partitions[0].total_cost, 13.0);
  check_partition(backward, result);
}

TEST(PartitionOrder, ParallelEdgesCountEachTimeButOnceInTheWaves) {
  TestDag dag;
  add_nodes(dag, {"a", "b"});
  add_edges(dag, {{"a", "b"}, {"a", "b"}});
  auto result = partition_level_based(dag, 2, {}).value();
  EXPECT_EQ(result.cross_edge_count, 2u);
  EXPECT_EQ(result.partitions[0].outgoing_cross_edges, 2u);
  EXPECT_EQ(result.partition_order, (Waves{{0}, {1}}));

  using algorithms::compute_partition_order;
  EXPECT_TRUE(compute_partition_order(0, {{0, 1}}).empty());
  EXPECT_EQ(compute_partition_order(3, {}), (Waves{{0, 1, 2}}));
  EXPECT_EQ(compute_partition_order(4, {{0, 3}, {1, 3}, {2, 3}, {2, 3}, {0, 9}}),
            (Waves{{0, 1, 2}, {3}}));
}

TEST(Partition, RandomGraphsKeepEdgesOrdered) {
  std::mt19937 rng(3);
  for (int round = 0; round < 60; ++round) {
    TestDag dag;
    CostMap costs;
    const int n = 1 + static_cast<int>(rng() % 30);
    testing::add_random_dag(dag, rng, n, 50, 5, [&](const std::string& name) {
      if (rng() % 2)
        costs[name] = static_cast<double>(rng() % 4);
    });
    const std::uint64_t k = rng() % 6;
    const double imbalance = static_cast<double>(rng() % 20) / 10.0;
    SCOPED_TRACE("round " + std::to_string(round));
    const auto start = partition_level_based(dag, k, costs).value();
    check_partition(dag, start);
    check_partition(dag, partition_balanced(dag, k, costs).value());
    auto refined = partition_communication_min(dag, k, costs, 20, imbalance).value();
    check_partition(dag, refined);
    EXPECT_LE(refined.cross_edge_count, start.cross_edge_count);
  }
}

}  // namespace
}  // namespace torvex
