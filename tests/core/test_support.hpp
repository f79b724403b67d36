// Helpers shared by the core test suites: small graph builders and named checkers.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "../store_checks.hpp"
#include "graph/dag.hpp"

namespace torvex::testing {

using TestDag = DAG<int>;

inline void add_nodes(TestDag& dag, std::initializer_list<const char*> names) {
  for (const char* n : names)
    ASSERT_TRUE(dag.add_node(n, 0).ok()) << n;
}

// Adds a graph written as words: "a>b>c d" is the edges a -> b and b -> c and the node d. Nodes
// go in at their first mention, so bare names written first fix the slot order; then the
// edges, in order.
inline void build(TestDag& dag, std::string_view words) {
  std::vector<std::pair<std::string, std::string>> edges;
  for (std::size_t at = 0; at < words.size();) {
    std::size_t end = std::min(words.find(' ', at), words.size());
    std::string previous;
    for (std::string_view word = words.substr(at, end - at); !word.empty();) {
      const std::size_t arrow = std::min(word.find('>'), word.size());
      std::string name(word.substr(0, arrow));
      if (!dag.contains(name)) {
        ASSERT_TRUE(dag.add_node(name, 0).ok());
      }
      if (!previous.empty())
        edges.emplace_back(previous, name);
      previous = name;
      word.remove_prefix(std::min(arrow + 1, word.size()));
    }
    at = end + 1;
  }
  for (auto& [a, b] : edges)
    ASSERT_TRUE(dag.add_edge(a, b, std::nullopt, std::nullopt).ok()) << a;
}

inline std::vector<std::string> names(const GraphStore& dag, const IndexList& list) {
  std::vector<std::string> out;
  for (NodeIndex n : list)
    out.emplace_back(dag.graph().name(n));
  return out;
}

// The names of a list joined by spaces, and of levels or paths joined by " | ": compact to
// compare with a worked example.
inline std::string text(const GraphStore& dag, const IndexList& list) {
  std::string out;
  for (NodeIndex n : list)
    out.append(out.empty() ? "" : " ").append(dag.graph().name(n));
  return out;
}
inline std::string text(const std::vector<NodeId>& ids) {
  std::string out;
  for (const NodeId& id : ids)
    out.append(out.empty() ? "" : " ").append(id.name);
  return out;
}
inline std::string text(const GraphStore& dag, const Levels& levels) {
  std::string out;
  for (const IndexList& level : levels)
    out.append(out.empty() ? "" : " | ").append(text(dag, level));
  return out;
}
inline std::string text(const std::vector<std::vector<NodeId>>& paths) {
  std::string out;
  for (const auto& path : paths)
    out.append(out.empty() ? "" : " | ").append(text(path));
  return out;
}

inline std::vector<std::vector<std::string>> names(const GraphStore& dag, const Levels& levels) {
  std::vector<std::vector<std::string>> out;
  for (const IndexList& level : levels)
    out.push_back(names(dag, level));
  return out;
}

// A graph that a reader (from_json_into and the like) built from scratch, or its error.
template <class Payload>
using ReadDag = Result<std::unique_ptr<DAG<Payload>>>;
template <class Payload, class Read>
ReadDag<Payload> read_new(Read&& read) {
  auto dag = std::make_unique<DAG<Payload>>();
  Status status = read(*dag);
  if (!status.ok())
    return std::move(status).error();
  return ReadDag<Payload>(std::move(dag));
}

// Fills an empty graph with a random DAG of n nodes for differential tests. Node i (slot i) is
// named "<r>_<i>" with r drawn below name_range, so name order differs from slot order; each
// earlier node gets an edge to it with probability 1 / edge_odds. on_node(name) runs after each
// node is added, before its edges, and may draw from rng too (a cost, a priority).
template <class OnNode>
void add_random_dag(TestDag& dag, std::mt19937& rng, int n, unsigned name_range, unsigned edge_odds,
                    OnNode&& on_node) {
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

// The named checkers of ../store_checks.hpp as assertions.
inline ::testing::AssertionResult is_topo_order(const GraphStore& dag, const IndexList& order) {
  auto fault = checks::topo_order_fault(dag.graph(), order);
  return fault ? ::testing::AssertionFailure() << *fault : ::testing::AssertionSuccess();
}
inline ::testing::AssertionResult check_store_invariants(const GraphStore& dag) {
  auto fault = checks::store_fault(dag);
  return fault ? ::testing::AssertionFailure() << *fault : ::testing::AssertionSuccess();
}

}  // namespace torvex::testing
