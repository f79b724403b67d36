#include <gtest/gtest.h>

#include <map>
#include <random>

#include "algorithms/cycle.hpp"
#include "test_support.hpp"

namespace torvex {
namespace {

using testing::add_edges;
using testing::add_nodes;
using testing::names;
using testing::TestDag;

TEST(ErrorTest, DisplayTexts) {
  EXPECT_EQ(TorvexError::edge_not_found("a", "b").display(), "Edge not found: a -> b");
  EXPECT_EQ(TorvexError::node_not_found("").display(), "Node not found: ");
  EXPECT_EQ(TorvexError::stale_node_ref("x").display(),
            "Stale node reference: x (the node was removed or replaced after the ref was created)");
  EXPECT_EQ(TorvexError::cycle("Cycle detected: z").display(), "Cycle detected: Cycle detected: z");
  EXPECT_EQ(TorvexError::duplicate_node("n").display(), "Duplicate node: n");
  EXPECT_EQ(TorvexError::graph("bad").display(), "Graph error: bad");
  EXPECT_EQ(static_cast<int>(TorvexError::graph("").kind()), 5);
}

TEST(StoreTest, NewStoreIsEmpty) {
  TestDag dag;
  EXPECT_EQ(dag.node_count(), 0u);
  EXPECT_EQ(dag.edge_count(), 0u);
  EXPECT_EQ(dag.generation(), 0u);
  EXPECT_EQ(dag.next_epoch(), 0u);
  EXPECT_TRUE(dag.validate().ok());
}

TEST(StoreTest, GenerationCountsSuccessfulChangesOnly) {
  TestDag dag;
  add_nodes(dag, {"a", "b", "c"});
  add_edges(dag, {{"a", "b"}, {"b", "c"}});
  EXPECT_EQ(dag.generation(), 5u);
  EXPECT_FALSE(dag.add_edge("c", "a", std::nullopt, std::nullopt).ok());
  EXPECT_FALSE(dag.add_node("a", 1).ok());
  EXPECT_FALSE(dag.remove_edge("a", "c").ok());
  EXPECT_FALSE(dag.remove_node("zz").ok());
  EXPECT_EQ(dag.generation(), 5u);
  *dag.get_payload_mut("a").value() = 7;
  EXPECT_EQ(dag.generation(), 5u);
  EXPECT_TRUE(testing::check_store_invariants(dag));
}

TEST(StoreTest, DuplicateNodeKeepsFirstPayload) {
  TestDag dag;
  ASSERT_TRUE(dag.add_node("a", 1).ok());
  auto dup = dag.add_node("a", 2);
  ASSERT_FALSE(dup.ok());
  EXPECT_EQ(dup.error().kind(), ErrorKind::DuplicateNode);
  EXPECT_EQ(dup.error().text(), "a");
  EXPECT_EQ(*dag.get_payload("a").value(), 1);
  EXPECT_EQ(dag.next_epoch(), 1u);
}

TEST(StoreTest, EmptyNameIsValid) {
  TestDag dag;
  ASSERT_TRUE(dag.add_node("", 0).ok());
  EXPECT_TRUE(dag.find("").has_value());
}

TEST(StoreTest, CycleSentenceNamesTheExistingPath) {
  TestDag dag;
  add_nodes(dag, {"a", "b", "c"});
  add_edges(dag, {{"b", "a"}});
  auto direct = dag.add_edge("a", "b", std::nullopt, std::nullopt);
  ASSERT_FALSE(direct.ok());
  EXPECT_EQ(direct.error().kind(), ErrorKind::Cycle);
  EXPECT_EQ(direct.error().text(), "Edge a -> b would create a cycle: b -> a");

  TestDag chain;
  add_nodes(chain, {"a", "b", "c"});
  add_edges(chain, {{"b", "c"}, {"c", "a"}});
  EXPECT_EQ(chain.add_edge("a", "b", std::nullopt, std::nullopt).error().text(),
            "Edge a -> b would create a cycle: b -> c -> a");
  EXPECT_EQ(chain.add_edge("a", "a", std::nullopt, std::nullopt).error().text(),
            "Edge a -> a would create a cycle: a");
  EXPECT_EQ(chain.edge_count(), 2u);
}

TEST(StoreTest, CyclePathIsShortestAndFirstFound) {
  // t reaches f by t->x->f and t->y->z->f; the shorter one is reported.
  TestDag dag;
  add_nodes(dag, {"f", "t", "x", "y", "z"});
  add_edges(dag, {{"t", "y"}, {"y", "z"}, {"z", "f"}, {"t", "x"}, {"x", "f"}});
  EXPECT_EQ(dag.add_edge("f", "t", std::nullopt, std::nullopt).error().text(),
            "Edge f -> t would create a cycle: t -> x -> f");
}

// The by-index add_edge runs the same cycle test as the by-name one, then and later.
TEST(StoreTest, AddEdgeByIndexKeepsTheCycleTestSound) {
  TestDag dag;
  add_nodes(dag, {"a", "b"});
  const NodeIndex a = *dag.find("a"), b = *dag.find("b");
  ASSERT_TRUE(dag.add_edge(b, a, std::nullopt, std::nullopt).ok());
  EXPECT_EQ(dag.add_edge("a", "b", std::nullopt, std::nullopt).error().text(),
            "Edge a -> b would create a cycle: b -> a");
  EXPECT_EQ(dag.add_edge(a, b, std::nullopt, std::nullopt).error().text(),
            "Edge a -> b would create a cycle: b -> a");
  EXPECT_EQ(dag.edge_count(), 1u);
  EXPECT_EQ(dag.generation(), 3u);
}

TEST(StoreTest, ResolutionReportsFirstMissingName) {
  TestDag dag;
  add_nodes(dag, {"a"});
  EXPECT_EQ(dag.add_edge("x", "y", std::nullopt, std::nullopt).error().text(), "x");
  EXPECT_EQ(dag.add_edge("a", "y", std::nullopt, std::nullopt).error().text(), "y");
  EXPECT_EQ(dag.remove_edge("x", "y").error().kind(), ErrorKind::NodeNotFound);
  EXPECT_EQ(dag.remove_edge("x", "y").error().text(), "x");
  EXPECT_EQ(dag.has_edge("a", "q").error().text(), "q");
  EXPECT_EQ(dag.is_ancestor("p", "q").error().text(), "p");
}

TEST(StoreTest, ParallelEdgesAreRemovedNewestFirst) {
  TestDag dag;
  add_nodes(dag, {"a", "b"});
  ASSERT_TRUE(dag.add_edge("a", "b", 1.5, "first").ok());
  ASSERT_TRUE(dag.add_edge("a", "b", 2.5, std::nullopt).ok());
  EXPECT_EQ(dag.edge_count(), 2u);
  ASSERT_TRUE(dag.remove_edge("a", "b").ok());
  EXPECT_TRUE(dag.has_edge("a", "b").value());
  const StableGraph& g = dag.graph();
  const EdgeIndex left = g.first_edge(*dag.find("a"), Direction::Outgoing);
  EXPECT_EQ(g.edge_weight(left), 1.5);
  ASSERT_NE(g.edge_label(left), nullptr);
  EXPECT_EQ(*g.edge_label(left), "first");
  ASSERT_TRUE(dag.remove_edge("a", "b").ok());
  EXPECT_FALSE(dag.has_edge("a", "b").value());
  auto missing = dag.remove_edge("a", "b");
  EXPECT_EQ(missing.error().kind(), ErrorKind::EdgeNotFound);
  EXPECT_EQ(missing.error().display(), "Edge not found: a -> b");
}

TEST(StoreTest, NodeSlotsAreReusedMostRecentlyFreedFirst) {
  TestDag dag;
  add_nodes(dag, {"a", "b", "c"});
  ASSERT_TRUE(dag.remove_node("a").ok());
  ASSERT_TRUE(dag.remove_node("c").ok());
  add_nodes(dag, {"d", "e", "f"});
  EXPECT_EQ(*dag.find("d"), 2u);
  EXPECT_EQ(*dag.find("e"), 0u);
  EXPECT_EQ(*dag.find("f"), 3u);
  EXPECT_EQ(dag.node_names(), (std::vector<std::string>{"e", "b", "d", "f"}));
}

TEST(StoreTest, EdgeSlotsAreReusedInRemovalOrder) {
  TestDag dag;
  add_nodes(dag, {"a", "b", "c", "x", "y"});
  add_edges(dag, {{"a", "b"}, {"a", "c"}});
  ASSERT_TRUE(dag.remove_node("a").ok());
  add_edges(dag, {{"x", "y"}, {"b", "c"}});
  EXPECT_EQ(names(dag, {dag.edges()[0].first, dag.edges()[0].second}),
            (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(dag.graph().edge_source(0), *dag.find("x"));
  EXPECT_EQ(dag.graph().edge_source(1), *dag.find("b"));
}

TEST(StoreTest, HandlesReportRemovedAndReplacedNodes) {
  TestDag dag;
  NodeHandle x = dag.add_node("x", 0).value();
  add_nodes(dag, {"y"});
  EXPECT_EQ(dag.resolve_ref(x).value(), 0u);
  ASSERT_TRUE(dag.remove_node("x").ok());
  EXPECT_EQ(dag.resolve_ref(x).error().kind(), ErrorKind::NodeNotFound);
  EXPECT_FALSE(dag.node_ref("x").has_value());
  add_nodes(dag, {"x"});
  EXPECT_EQ(dag.resolve_ref(x).error().kind(), ErrorKind::StaleNodeRef);
  NodeHandle fresh = *dag.node_ref("x");
  EXPECT_EQ(fresh.epoch, 2u);
  EXPECT_EQ(dag.resolve_ref(fresh).value(), 0u);  // the freed slot
}

TEST(StoreTest, RemoveNodeDropsIncidentEdges) {
  TestDag dag;
  add_nodes(dag, {"a", "b", "c"});
  add_edges(dag, {{"a", "b"}, {"b", "c"}, {"a", "c"}});
  ASSERT_TRUE(dag.remove_node("b").ok());
  EXPECT_EQ(dag.edge_count(), 1u);
  EXPECT_EQ(names(dag, dag.predecessors("c").value()), (std::vector<std::string>{"a"}));
  EXPECT_TRUE(testing::check_store_invariants(dag));
}

TEST(StoreTest, RandomOperationsKeepInvariants) {
  TestDag dag;
  std::uint64_t state = 12345;
  auto next = [&] { return state = state * 6364136223846793005ull + 1442695040888963407ull; };
  for (int step = 0; step < 4000; ++step) {
    const std::string a = "n" + std::to_string((next() >> 33) % 60);
    const std::string b = "n" + std::to_string((next() >> 33) % 60);
    switch ((next() >> 33) % 4) {
      case 0: (void)dag.add_node(a, step); break;
      case 1: (void)dag.add_edge(a, b, std::nullopt, std::nullopt); break;
      case 2: (void)dag.remove_edge(a, b); break;
      case 3: if ((next() >> 33) % 3 == 0) (void)dag.remove_node(a); break;
    }
  }
  EXPECT_TRUE(testing::check_store_invariants(dag));
  EXPECT_TRUE(dag.validate().ok());
  EXPECT_TRUE(testing::is_topo_order(dag, *dag.topological_sort().value()));
}

// The incremental order behind the cycle test must refuse exactly what the plain breadth-first
// search refuses, across insertion orders, removals and slot reuse.
TEST(StoreTest, CycleTestAgreesWithPlainSearch) {
  std::mt19937 rng(99);
  for (int round = 0; round < 20; ++round) {
    TestDag dag;
    const int n = 10 + static_cast<int>(rng() % 40);
    auto name = [](std::uint32_t i) { return "v" + std::to_string(i); };
    for (int i = 0; i < n; ++i) ASSERT_TRUE(dag.add_node(name(i), 0).ok());
    for (int step = 0; step < 600; ++step) {
      const std::uint32_t a = rng() % n, b = rng() % n;
      const int op = static_cast<int>(rng() % 10);
      if (op == 0) {
        (void)dag.remove_edge(name(a), name(b));
      } else if (op == 1) {
        (void)dag.remove_node(name(a));
        (void)dag.add_node(name(a), 0);
      } else {
        auto ia = dag.find(name(a)), ib = dag.find(name(b));
        auto expected = algorithms::would_create_cycle(dag.graph(), *ia, *ib);
        std::string text;
        if (expected) {
          text = "Edge " + name(a) + " -> " + name(b) + " would create a cycle: ";
          for (std::size_t i = 0; i < expected->size(); ++i) {
            text += (i ? " -> " : "") + std::string(dag.graph().name((*expected)[i]));
          }
        }
        Status got = dag.add_edge(name(a), name(b), std::nullopt, std::nullopt);
        ASSERT_EQ(got.ok(), !expected.has_value());
        if (!got.ok()) {
          ASSERT_EQ(got.error().text(), text);
        }
      }
    }
    EXPECT_TRUE(testing::check_store_invariants(dag));
    EXPECT_TRUE(testing::is_topo_order(dag, *dag.topological_sort().value()));
  }
}

}  // namespace
}  // namespace torvex

namespace torvex {
namespace {

// Loaders insert a batch and check it once: the outcome must be that of one add_edge per edge,
// the first cycle-closing edge reported with its path, and a cycle before a missing name first.
TEST(EdgeBatchTest, MatchesOneByOneInsertion) {
  std::mt19937 rng(17);
  for (int round = 0; round < 200; ++round) {
    const int n = 2 + static_cast<int>(rng() % 8);
    std::vector<std::pair<std::string, std::string>> edges;
    for (int k = static_cast<int>(rng() % 14); k > 0; --k) {
      const int a = static_cast<int>(rng() % (n + 1)), b = static_cast<int>(rng() % n);
      // Mostly forward edges, a few backward ones and a few names that do not exist.
      const bool forward = rng() % 6 != 0;
      edges.emplace_back("v" + std::to_string(forward ? std::min(a, b) : std::max(a, b)),
                         "v" + std::to_string(forward ? std::max(a, b) : std::min(a, b)));
    }
    TestDag one, batched;
    for (int i = 0; i < n; ++i) {
      ASSERT_TRUE(one.add_node("v" + std::to_string(i), 0).ok());
      ASSERT_TRUE(batched.add_node("v" + std::to_string(i), 0).ok());
    }
    (void)one.roots();
    (void)batched.roots();
    Status expected;
    for (auto& [a, b] : edges) {
      expected = one.add_edge(a, b, 2.0, a + b);
      if (!expected.ok()) break;
    }
    EdgeBatch batch(batched);
    Status read;
    for (auto& [a, b] : edges) {
      read = batch.add(a, b, 2.0, a + b);
      if (!read.ok()) break;
    }
    Status finished = batch.finish();
    Status got = finished.ok() ? read : finished;
    ASSERT_EQ(got.ok(), expected.ok()) << round;
    EXPECT_EQ(batched.generation(), one.generation());
    EXPECT_EQ(batched.cache_size(), one.cache_size()) << round;  // emptied only if an edge stays
    // The edges before a failing one stay, in the slots, with the weights and labels they had.
    EXPECT_EQ(batched.edges(), one.edges());
    for (EdgeIndex e = 0; e < one.graph().edge_bound(); ++e) {
      if (!one.graph().is_edge_live(e)) continue;
      EXPECT_EQ(batched.graph().edge_weight(e), one.graph().edge_weight(e));
      EXPECT_EQ(*batched.graph().edge_label(e), *one.graph().edge_label(e));
    }
    if (!got.ok()) {
      EXPECT_EQ(got.error(), expected.error()) << round;
    }
    // The rebuilt order keeps later insertions exact, after a failure too.
    for (int i = 0; i < n; ++i) {
      const std::string a = "v" + std::to_string(rng() % n), b = "v" + std::to_string(rng() % n);
      Status x = one.add_edge(a, b, {}, {}), y = batched.add_edge(a, b, {}, {});
      ASSERT_EQ(x.ok(), y.ok());
      if (!x.ok()) {
        EXPECT_EQ(x.error(), y.error());
      }
    }
  }
}

// The name index decides short names inside its entries and compares long ones in the slot: names
// that share eight bytes, differ only in length or in a NUL, and heavy removal (entries move back
// into freed places) must all resolve exactly as a plain map says.
TEST(StoreTest, NameIndexAgreesWithAMap) {
  std::mt19937 rng(5);
  const std::vector<std::string> stems = {"", "a", std::string("a\0", 2), "abcdefgh", "abcdefghi",
                                          "abcdefghij-long-name-sharing-a-prefix", "x"};
  auto name_of = [&](std::uint32_t k) { return stems[k % stems.size()] + std::to_string(k / 7); };
  TestDag dag;
  std::map<std::string, bool> live;
  for (int step = 0; step < 6000; ++step) {
    const std::string name = step % 3 == 2 ? stems[rng() % stems.size()] : name_of(rng() % 700);
    if (rng() % 3 == 0) {
      ASSERT_EQ(dag.remove_node(name).ok(), live[name]) << name;
      live[name] = false;
    } else {
      ASSERT_EQ(dag.add_node(name, 0).ok(), !live[name]) << name;
      live[name] = true;
    }
  }
  std::size_t count = 0;
  for (const auto& [name, here] : live) {
    auto n = dag.find(name);
    ASSERT_EQ(n.has_value(), here) << name;
    if (here) {
      EXPECT_EQ(dag.graph().name(*n), name);
    }
    count += here;
  }
  EXPECT_EQ(dag.node_count(), count);
  EXPECT_FALSE(dag.find("abcdefghij-long-name-sharing-a-prefiy").has_value());
}

}  // namespace
}  // namespace torvex
