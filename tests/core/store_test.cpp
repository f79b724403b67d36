#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <new>
#include <random>
#include <utility>

#include "algorithms/cycle.hpp"
#include "graph/dynamic_order.hpp"
#include "test_support.hpp"

namespace torvex {
namespace {

using testing::build;
using testing::names;
using testing::TestDag;
using Names = std::vector<std::string>;

TEST(ErrorTest, DisplayTexts) {
  const std::pair<TorvexError, const char*> cases[] = {
      {TorvexError::cycle("Cycle detected: z"), "Cycle detected: Cycle detected: z"},
      {TorvexError::node_not_found(""), "Node not found: "},
      {TorvexError::duplicate_node("n"), "Duplicate node: n"},
      {TorvexError::edge_not_found("a", "b"), "Edge not found: a -> b"},
      {TorvexError::stale_node_ref("x"),
       "Stale node reference: x (the node was removed or replaced after the ref was created)"},
      {TorvexError::graph("bad"), "Graph error: bad"},
  };
  for (int kind = 0; kind < 6; ++kind) {
    EXPECT_EQ(cases[kind].first.display(), cases[kind].second);
    EXPECT_EQ(static_cast<int>(cases[kind].first.kind()), kind);
  }
}

TEST(StoreTest, GenerationCountsSuccessfulChangesOnly) {
  TestDag dag;
  EXPECT_EQ(dag.generation() + dag.next_epoch() + dag.node_count(), 0u);
  ASSERT_TRUE(dag.add_node("", 1).ok());  // the empty name is a name
  build(dag, "a>b>c");
  EXPECT_EQ(dag.generation(), 6u);
  EXPECT_FALSE(dag.add_edge("c", "a", std::nullopt, std::nullopt).ok());
  auto duplicate = dag.add_node("a", 2);
  EXPECT_EQ(duplicate.error(), TorvexError::duplicate_node("a"));
  EXPECT_EQ(*dag.get_payload("a").value(), 0) << "a refused node keeps the first payload";
  EXPECT_FALSE(dag.remove_edge("a", "c").ok());
  EXPECT_FALSE(dag.remove_node("zz").ok());
  *dag.get_payload_mut("a").value() = 7;
  EXPECT_EQ(dag.generation(), 6u);
  EXPECT_EQ(dag.next_epoch(), 4u);
  EXPECT_TRUE(testing::check_store_invariants(dag));
}

// The sentence names the path from the target back to the source: the shortest one, found
// breadth-first along the newest edges first.
TEST(StoreTest, RefusedEdgesReportTheirError) {
  const struct {
    const char* graph;
    const char* from;
    const char* to;
    TorvexError error;
  } cases[] = {
      {"b>a", "a", "b", TorvexError::cycle("Edge a -> b would create a cycle: b -> a")},
      {"b>c>a", "a", "b", TorvexError::cycle("Edge a -> b would create a cycle: b -> c -> a")},
      {"a", "a", "a", TorvexError::cycle("Edge a -> a would create a cycle: a")},
      {"f t>y>z>f t>x>f", "f", "t",
       TorvexError::cycle("Edge f -> t would create a cycle: t -> x -> f")},
      {"a", "x", "y", TorvexError::node_not_found("x")},
      {"a", "a", "y", TorvexError::node_not_found("y")},
  };
  for (const auto& c : cases) {
    TestDag dag;
    build(dag, c.graph);
    const std::size_t edges = dag.edge_count();
    EXPECT_EQ(dag.add_edge(c.from, c.to, std::nullopt, std::nullopt).error(), c.error) << c.graph;
    EXPECT_EQ(dag.edge_count(), edges);
  }
  TestDag dag;
  build(dag, "a");
  EXPECT_EQ(dag.remove_edge("x", "y").error(), TorvexError::node_not_found("x"));
  EXPECT_EQ(dag.has_edge("a", "q").error(), TorvexError::node_not_found("q"));
  EXPECT_EQ(dag.is_ancestor("p", "q").error(), TorvexError::node_not_found("p"));
}

// The by-index add_edge runs the same cycle test as the by-name one, then and later.
TEST(StoreTest, AddEdgeByIndexKeepsTheCycleTestSound) {
  TestDag dag;
  build(dag, "a b");
  const NodeIndex a = *dag.find("a"), b = *dag.find("b");
  ASSERT_TRUE(dag.add_edge(b, a, std::nullopt, std::nullopt).ok());
  EXPECT_EQ(dag.add_edge("a", "b", std::nullopt, std::nullopt).error().text(),
            "Edge a -> b would create a cycle: b -> a");
  EXPECT_EQ(dag.add_edge(a, b, std::nullopt, std::nullopt).error().text(),
            "Edge a -> b would create a cycle: b -> a");
  EXPECT_EQ(dag.edge_count(), 1u);
  EXPECT_EQ(dag.generation(), 3u);
}

TEST(StoreTest, ParallelEdgesAreRemovedNewestFirst) {
  TestDag dag;
  build(dag, "a b");
  ASSERT_TRUE(dag.add_edge("a", "b", 1.5, "first").ok());
  ASSERT_TRUE(dag.add_edge("a", "b", 2.5, std::nullopt).ok());
  ASSERT_TRUE(dag.remove_edge("a", "b").ok());
  const StableGraph& g = dag.graph();
  const EdgeIndex left = g.first_edge(*dag.find("a"), Direction::Outgoing);
  EXPECT_EQ(g.edge_weight(left), 1.5);
  EXPECT_EQ(*g.edge_label(left), "first");
  ASSERT_TRUE(dag.remove_edge("a", "b").ok());
  EXPECT_FALSE(dag.has_edge("a", "b").value());
  EXPECT_EQ(dag.remove_edge("a", "b").error(), TorvexError::edge_not_found("a", "b"));
}

TEST(StoreTest, SlotsAreReusedMostRecentlyFreedFirst) {
  TestDag dag;
  build(dag, "a b c x y a>b a>c");
  ASSERT_TRUE(dag.remove_node("a").ok());  // frees its newest edge, 1, then 0
  ASSERT_TRUE(dag.remove_node("c").ok());
  EXPECT_EQ(names(dag, dag.predecessors("b").value()), Names{});
  build(dag, "d e f x>y b>f");
  EXPECT_EQ(dag.node_names(), (Names{"e", "b", "d", "x", "y", "f"}));
  EXPECT_EQ(dag.edges()[0], std::pair(*dag.find("x"), *dag.find("y")));
  EXPECT_EQ(dag.edges()[1], std::pair(*dag.find("b"), *dag.find("f")));
  EXPECT_TRUE(testing::check_store_invariants(dag));
}

TEST(StoreTest, HandlesReportRemovedAndReplacedNodes) {
  TestDag dag;
  NodeHandle x = dag.add_node("x", 0).value();
  build(dag, "y");
  EXPECT_EQ(dag.resolve_ref(x).value(), 0u);
  ASSERT_TRUE(dag.remove_node("x").ok());
  EXPECT_EQ(dag.resolve_ref(x).error(), TorvexError::node_not_found("x"));
  EXPECT_FALSE(dag.node_ref("x").has_value());
  build(dag, "x");
  EXPECT_EQ(dag.resolve_ref(x).error(), TorvexError::stale_node_ref("x"));
  NodeHandle fresh = *dag.node_ref("x");
  EXPECT_EQ(fresh.epoch, 2u);
  EXPECT_EQ(dag.resolve_ref(fresh).value(), 0u);  // the freed slot
}

// What the binding's bulk and copying paths use: reserved room changes nothing observable, vacant
// payload slots hold the default, and a copy may take its source's counter.
TEST(StoreTest, BulkAndCopyHelpers) {
  TestDag dag;
  dag.reserve(3, 2);
  build(dag, "a>b c");
  dag.payload(2) = 5;
  ASSERT_TRUE(dag.remove_node("c").ok());
  EXPECT_EQ(std::as_const(dag).payload_slots().size(), 3u);
  EXPECT_EQ(dag.payload_slots()[2], 0);
  EXPECT_TRUE(dag.resolve_name("a") && !dag.remove_edge("b", "a"));
  EXPECT_EQ(dag.remove_edge("b", "a").error().target(), "a");
  dag.set_generation(40);
  build(dag, "d");
  EXPECT_EQ(dag.generation(), 41u);
  EXPECT_TRUE(testing::check_store_invariants(dag));
}

// The incremental order behind the cycle test must refuse exactly what the plain breadth-first
// search refuses, across insertion orders, removals and slot reuse.
TEST(StoreTest, CycleTestAgreesWithPlainSearch) {
  std::mt19937 rng(99);
  for (int round = 0; round < 20; ++round) {
    TestDag dag;
    const int n = 10 + static_cast<int>(rng() % 40);
    auto name = [](std::uint32_t i) { return "v" + std::to_string(i); };
    for (int i = 0; i < n; ++i)
      ASSERT_TRUE(dag.add_node(name(i), 0).ok());
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

// The order on its own, on graphs large enough that the backward search runs out of edges and
// levels rise: layered edges in random order with back edges and removals mixed in. It refuses
// exactly what the plain search refuses and keeps every edge running forward.
TEST(DynamicOrderTest, AgreesWithPlainSearchWhileLevelsRise) {
  std::mt19937 rng(5);
  for (int round = 0; round < 6; ++round) {
    StableGraph g;
    DynamicTopoOrder order;
    const std::uint32_t width = 4 + rng() % 30, stages = 20 + rng() % 40, n = width * stages;
    std::vector<NodeIndex> at(n);  // shuffled: slots unrelated to the stages
    for (std::uint32_t i = 0; i < n; ++i)
      at[i] = i;
    std::shuffle(at.begin(), at.end(), rng);
    for (std::uint32_t i = 0; i < n; ++i) {
      order.reserve_for(i);
      ASSERT_EQ(g.add_node("v" + std::to_string(i)).value(), i);
      order.on_add_node(i);
    }
    std::vector<std::pair<NodeIndex, NodeIndex>> edges;
    for (std::uint32_t i = 0; i + width < n; ++i) {
      for (int k = 0; k < 3; ++k)
        edges.emplace_back(at[i], at[(i / width + 1) * width + rng() % width]);
    }
    std::shuffle(edges.begin(), edges.end(), rng);
    if (round == 0)
      std::sort(edges.begin(), edges.end());  // by source slot: many sources and sinks moved
    std::size_t refused = 0;
    for (std::size_t k = 0; k < edges.size(); ++k) {
      auto [a, b] = edges[k];
      if (rng() % 8 == 0)
        std::swap(a, b);  // against the stages: refused once a path runs the other way
      if (rng() % 50 == 0 && g.edge_count() > 0) {
        EdgeIndex e = 0;
        while (!g.is_edge_live(e))
          ++e;
        g.remove_edge(e);
      }
      const bool closes = algorithms::would_create_cycle(g, a, b).has_value();
      ASSERT_EQ(order.order_edge(g, a, b), !closes) << round << " " << k;
      if (closes) {
        ++refused;
        continue;
      }
      ASSERT_TRUE(g.add_edge(a, b, 1.0, nullptr).ok());
      if (k % 97 == 0 || k + 1 == edges.size()) {
        for (EdgeIndex e = 0; e < g.edge_bound(); ++e) {
          if (!g.is_edge_live(e))
            continue;
          ASSERT_TRUE(order.precedes(g.edge_source(e), g.edge_target(e))) << round << " " << k;
        }
      }
    }
    EXPECT_GT(refused, 0u);
  }
}

// Loaders insert a batch and check it once, add_edges checks edge by edge within a budget: the
// outcome must be that of one add_edge per edge, the first cycle-closing edge reported with its
// path, and a cycle before a missing name first.
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
      if (!expected.ok())
        break;
    }
    // Checked all at once, edge by edge, or edge by edge until a small search budget is spent.
    const std::uint64_t budgets[] = {0, ~std::uint64_t{0}, 3};
    EdgeBatch batch(batched, budgets[round % 3]);
    Status read;
    for (auto& [a, b] : edges) {
      // Copies add by resolved slot: every other round, where both names resolve.
      const auto from = batched.find(a), to = batched.find(b);
      read =
          round % 2 && from && to ? batch.add(*from, *to, 2.0, a + b) : batch.add(a, b, 2.0, a + b);
      if (!read.ok())
        break;
    }
    Status finished = batch.finish();
    Status got = finished.ok() ? read : finished;
    ASSERT_EQ(got.ok(), expected.ok()) << round;
    EXPECT_EQ(batched.generation(), one.generation());
    EXPECT_EQ(batched.cache_size(), one.cache_size()) << round;  // emptied only if an edge stays
    // The edges before a failing one stay, in the slots, with the weights and labels they had.
    EXPECT_EQ(batched.edges(), one.edges());
    for (EdgeIndex e = 0; e < one.graph().edge_bound(); ++e) {
      if (!one.graph().is_edge_live(e))
        continue;
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
  const std::vector<std::string> stems = {
      "",         "a",         std::string("a\0", 2),
      "abcdefgh", "abcdefghi", "abcdefghij-long-name-sharing-a-prefix",
      "x"};
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

// A batch left unfinished (an exception passed through its owner) is taken out again: the
// edges, the generation and the filled cache are as before, and the cycle test stays exact.
TEST(EdgeBatchTest, AnUnfinishedBatchLeavesNoTrace) {
  TestDag dag;
  build(dag, "a>b c");
  (void)dag.roots();
  (void)dag.topological_sort();
  const auto edges = dag.edges();
  const std::uint64_t generation = dag.generation();
  try {
    EdgeBatch batch(dag);
    ASSERT_TRUE(batch.add("b", "c", 3.0, "x").ok());
    ASSERT_TRUE(batch.add("c", "a", std::nullopt, std::nullopt).ok());  // a cycle, unchecked
    EXPECT_EQ(batch.size(), 2u);
    throw std::bad_alloc();
  } catch (const std::bad_alloc&) {
  }
  EXPECT_EQ(dag.edges(), edges);
  EXPECT_EQ(dag.generation(), generation);
  EXPECT_EQ(dag.cache_size(), 2u);
  EXPECT_EQ(names(dag, *dag.topological_sort().value()), (Names{"a", "c", "b"}));
  EXPECT_TRUE(testing::check_store_invariants(dag));
  EXPECT_EQ(dag.add_edge("b", "a", std::nullopt, std::nullopt).error().text(),
            "Edge b -> a would create a cycle: a -> b");
  ASSERT_TRUE(dag.add_edge("c", "a", std::nullopt, std::nullopt).ok());
  ASSERT_TRUE(dag.add_edge("b", "c", std::nullopt, std::nullopt).error().kind() ==
              ErrorKind::Cycle);
  EXPECT_EQ(dag.generation(), generation + 1);
}

}  // namespace
}  // namespace torvex
