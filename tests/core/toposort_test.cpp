#include "algorithms/toposort.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "test_support.hpp"

namespace torvex {
namespace {

using testing::TestDag;
using testing::text;

std::string orderings(const TestDag& dag, std::optional<std::size_t> limit) {
  return text(dag, dag.all_topological_orderings(limit).value());
}

// Ties go by name bytes (a shorter prefix first), never by slot; Kahn's queue is first in first
// out, the depth-first order reverses the finishing order, levels follow the longest path, and
// parallel edges release once.
TEST(ToposortTest, WorkedExamples) {
  const struct {
    const char* graph;
    const char* kahn;
    const char* dfs;
    const char* levels;
    const char* first_orderings;  // at most three
  } cases[] = {
      {"", "", "", "", ""},
      {"b a c", "a b c", "c b a", "a b c", "a b c | a c b | b a c"},
      {"a b c>a", "b c a", "c b a", "b c | a", "b c a | c a b | c b a"},
      {"\xc3\xa9 z abc ab a B", "B a ab abc z \xc3\xa9", "\xc3\xa9 z abc ab a B",
       "B a ab abc z \xc3\xa9",
       "B a ab abc z \xc3\xa9 | B a ab abc \xc3\xa9 z | B a ab z abc \xc3\xa9"},
      {"a>b2 c", "a c b2", "c a b2", "a c | b2", "a b2 c | a c b2 | c a b2"},
      {"a>b>c a>c", "a b c", "a b c", "a | b | c", "a b c"},
      {"x>y x>y", "x y", "x y", "x | y", "x y"},
  };
  for (const auto& c : cases) {
    TestDag dag;
    testing::build(dag, c.graph);
    EXPECT_EQ(text(dag, *dag.topological_sort().value()), c.kahn) << c.graph;
    EXPECT_EQ(text(dag, *dag.topological_sort_dfs().value()), c.dfs) << c.graph;
    EXPECT_EQ(text(dag, *dag.topological_levels().value()), c.levels) << c.graph;
    EXPECT_EQ(orderings(dag, 3), c.first_orderings) << c.graph;
  }
  TestDag dag;
  testing::build(dag, "m n");
  ASSERT_TRUE(dag.remove_node("m").ok());
  testing::build(dag, "z");  // takes slot 0
  EXPECT_EQ(text(dag, *dag.topological_sort().value()), "n z");
  EXPECT_EQ(orderings(dag, 0), "");
}

// Every order is a topological one; the enumeration is the topological permutations in
// lexicographic name order, and a limit takes a prefix.
TEST(ToposortTest, RandomGraphsAgreeWithDefinitions) {
  std::mt19937 rng(7);
  for (int round = 0; round < 30; ++round) {
    TestDag dag;
    const int n = 1 + static_cast<int>(rng() % 7);
    testing::add_random_dag(dag, rng, n, 1000, 3, [](const std::string&) {});
    EXPECT_TRUE(testing::is_topo_order(dag, *dag.topological_sort().value()));
    EXPECT_TRUE(testing::is_topo_order(dag, *dag.topological_sort_dfs().value()));
    IndexList flat;
    for (const IndexList& level : *dag.topological_levels().value())
      flat.insert(flat.end(), level.begin(), level.end());
    EXPECT_TRUE(testing::is_topo_order(dag, flat));
    const auto by_name = [&](NodeIndex a, NodeIndex b) {
      return dag.graph().name(a) < dag.graph().name(b);
    };
    IndexList perm = dag.nodes();
    std::sort(perm.begin(), perm.end(), by_name);
    std::vector<IndexList> expected;
    do {
      if (testing::is_topo_order(dag, perm))
        expected.push_back(perm);
    } while (std::next_permutation(perm.begin(), perm.end(), by_name));
    EXPECT_EQ(dag.all_topological_orderings(std::nullopt).value(), expected);
    for (std::size_t limit : {3, 1, 0}) {  // shrinking
      expected.resize(std::min(limit, expected.size()));
      EXPECT_EQ(dag.all_topological_orderings(limit).value(), expected);
    }
  }
}

// Long lists take the prefix-key path: shared 8-byte prefixes, NUL bytes and high bytes must
// still sort exactly by bytes.
TEST(ToposortTest, SortByNameMatchesByteOrder) {
  StableGraph g;
  std::mt19937 rng(3);
  const std::string alphabet("ab\0\xff", 4);
  IndexList nodes;
  std::vector<std::string> expected;
  for (int i = 0; i < 500; ++i) {
    std::string name = i % 2 ? "prefix__" : "";
    for (int k = static_cast<int>(rng() % 12); k > 0; --k)
      name += alphabet[rng() % 4];
    name += std::to_string(i);
    nodes.push_back(g.add_node(name).value());
    expected.push_back(name);
  }
  algorithms::sort_by_name(g, nodes);
  std::sort(expected.begin(), expected.end());
  std::vector<std::string> got;
  for (NodeIndex n : nodes)
    got.emplace_back(g.name(n));
  EXPECT_EQ(got, expected);
}

}  // namespace
}  // namespace torvex
