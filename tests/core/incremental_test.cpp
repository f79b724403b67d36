#include "algorithms/incremental.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "graph/incremental.hpp"
#include "test_support.hpp"

namespace torvex {
namespace {

using testing::TestDag;
using Names = std::vector<std::string>;

std::set<std::string> dirty(const TestDag& dag, const Names& changed) {
  auto list = dirty_set(dag, changed).value();
  std::set<std::string> out(list.begin(), list.end());
  EXPECT_EQ(out.size(), list.size()) << "a node is reported twice";
  return out;
}

std::map<std::string, Names> provenance(const TestDag& dag, const Names& changed) {
  std::map<std::string, Names> out;
  for (auto& entry : change_provenance(dag, changed).value()) {
    EXPECT_TRUE(out.emplace(entry.node, entry.sources).second) << "two entries for " << entry.node;
  }
  return out;
}

// The dirty set is the changed nodes and everything below them; a node's provenance lists the
// changed nodes that reach it, in breadth-first order along incoming edges, newest first.
TEST(IncrementalTest, WorkedExamples) {
  using Provenance = std::map<std::string, Names>;
  const struct {
    const char* graph;
    Names changed;
    Provenance provenance;  // its keys are the dirty set
  } cases[] = {
      {"a>b>c", {}, {}},
      {"a>b>c", {"a"}, {{"a", {"a"}}, {"b", {"a"}}, {"c", {"a"}}}},
      {"a>b>c", {"b", "a", "b"}, {{"a", {"a"}}, {"b", {"b", "a"}}, {"c", {"b", "a"}}}},
      {"a>b>c", {"c"}, {{"c", {"c"}}}},
      {"a>b>d a>c>d", {"b", "c"}, {{"b", {"b"}}, {"c", {"c"}}, {"d", {"c", "b"}}}},
      {"a>b>d a>c>d",
       {"a", "c", "b"},
       {{"a", {"a"}}, {"b", {"b", "a"}}, {"c", {"c", "a"}}, {"d", {"c", "b", "a"}}}},
  };
  for (const auto& c : cases) {
    TestDag dag;
    testing::build(dag, c.graph);
    std::set<std::string> keys;
    for (const auto& entry : c.provenance)
      keys.insert(entry.first);
    EXPECT_EQ(dirty(dag, c.changed), keys) << c.graph;
    EXPECT_EQ(provenance(dag, c.changed), c.provenance) << c.graph;
  }
  TestDag dag;
  testing::build(dag, "a");
  EXPECT_EQ(dirty_set(dag, Names{"a", "x", "y"}).error(), TorvexError::node_not_found("x"));
  EXPECT_EQ(change_provenance(dag, Names{"a", "x", "y"}).error(), TorvexError::node_not_found("x"));
}

// `from` and every node reachable from it.
std::set<NodeIndex> closure(const StableGraph& g, const IndexList& from) {
  std::set<NodeIndex> seen(from.begin(), from.end());
  IndexList stack(seen.begin(), seen.end());
  while (!stack.empty()) {
    const NodeIndex u = stack.back();
    stack.pop_back();
    g.for_each_successor(u, [&](NodeIndex v) {
      if (seen.insert(v).second)
        stack.push_back(v);
    });
  }
  return seen;
}

// The plain method: a full backward search over every ancestor of every dirty node.
std::map<NodeIndex, IndexList> plain_provenance(const StableGraph& g, const IndexList& changed) {
  std::set<NodeIndex> changed_set(changed.begin(), changed.end());
  std::map<NodeIndex, IndexList> out;
  for (NodeIndex d : closure(g, changed)) {
    IndexList& list = out[d];
    std::set<NodeIndex> seen{d};
    IndexList queue{d};
    for (std::size_t head = 0; head < queue.size(); ++head) {
      if (changed_set.contains(queue[head]))
        list.push_back(queue[head]);
      g.for_each_predecessor(queue[head], [&](NodeIndex s) {
        if (seen.insert(s).second)
          queue.push_back(s);
      });
    }
  }
  return out;
}

// Lists built from the predecessors' lists must equal one full search per dirty node: at every
// density, with parallel edges and edges in no node order, and from one changed node to most.
TEST(IncrementalTest, MatchesFullSearchesOnRandomGraphs) {
  std::mt19937 rng(5);
  for (int round = 0; round < 160; ++round) {
    const int n = 6 + round % 40;
    std::bernoulli_distribution edge(0.05 + 0.1 * (round % 5));
    std::bernoulli_distribution parallel(0.2);
    std::vector<std::pair<int, int>> edges;
    for (int i = 0; i < n; ++i) {
      for (int j = i + 1; j < n; ++j) {
        if (edge(rng)) {
          edges.emplace_back(i, j);
          if (parallel(rng))
            edges.emplace_back(i, j);
        }
      }
    }
    std::shuffle(edges.begin(), edges.end(), rng);  // neighbour order is not node order
    TestDag dag;
    for (int i = 0; i < n; ++i)
      ASSERT_TRUE(dag.add_node(std::to_string(i), 0).ok());
    for (auto [i, j] : edges)
      ASSERT_TRUE(dag.add_edge(i, j, std::nullopt, std::nullopt).ok());

    IndexList changed;
    std::uniform_int_distribution<NodeIndex> pick(0, n - 1);
    const int count = round < 80 ? 1 + round % 4 : 1 + static_cast<int>(pick(rng));
    for (int k = 0; k < count; ++k)
      changed.push_back(pick(rng));
    const IndexList dirty = algorithms::dirty_set(dag.graph(), changed);
    ASSERT_EQ(std::set<NodeIndex>(dirty.begin(), dirty.end()), closure(dag.graph(), changed));
    ASSERT_EQ(std::set<NodeIndex>(dirty.begin(), dirty.end()).size(), dirty.size());
    std::map<NodeIndex, IndexList> got;
    for (auto& entry : algorithms::change_provenance(dag.graph(), changed))
      got[entry.node] = entry.sources;
    ASSERT_EQ(got, plain_provenance(dag.graph(), changed)) << "round " << round;
  }
}

// A layered graph where every node of a layer feeds every node of the next: the search from a
// node meets whole layers at equal distance, so the order within a layer decides every list.
TEST(IncrementalTest, MatchesFullSearchesOnWideLayers) {
  std::mt19937 rng(9);
  TestDag dag;
  constexpr int kLayers = 6, kWidth = 7;
  std::vector<std::pair<int, int>> edges;
  for (int i = 0; i < kLayers * kWidth; ++i)
    ASSERT_TRUE(dag.add_node(std::to_string(i), 0).ok());
  for (int layer = 0; layer + 1 < kLayers; ++layer) {
    for (int a = 0; a < kWidth; ++a)
      for (int b = 0; b < kWidth; ++b)
        edges.emplace_back(layer * kWidth + a, (layer + 1) * kWidth + b);
  }
  std::shuffle(edges.begin(), edges.end(), rng);
  for (auto [i, j] : edges)
    ASSERT_TRUE(dag.add_edge(i, j, std::nullopt, std::nullopt).ok());
  IndexList changed;
  for (NodeIndex c = 0; c < kLayers * kWidth; c += 3)
    changed.push_back(c);
  std::shuffle(changed.begin(), changed.end(), rng);
  std::map<NodeIndex, IndexList> got;
  for (auto& entry : algorithms::change_provenance(dag.graph(), changed))
    got[entry.node] = entry.sources;
  EXPECT_EQ(got, plain_provenance(dag.graph(), changed));
}

}  // namespace
}  // namespace torvex
