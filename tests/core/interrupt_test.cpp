#include "interrupt.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <span>
#include <string>

#include "algorithms/diff.hpp"
#include "algorithms/incremental.hpp"
#include "algorithms/toposort.hpp"
#include "graph/paths.hpp"
#include "graph/scheduling.hpp"
#include "graph/serialization.hpp"
#include "graph/stats.hpp"
#include "graph/transforms.hpp"
#include "test_support.hpp"

namespace torvex {
namespace {

using testing::TestDag;

int g_checks = 0;
bool stop_check() {
  ++g_checks;
  return true;
}
bool go_on_check() {
  ++g_checks;
  return false;
}

// The check runs at most once per interval; a test wants it due now.
void make_check_due() {
  interrupt::detail::t_state.next_check = {};
  interrupt::detail::t_state.countdown = interrupt::detail::kStepsPerLook;
}

void poll_steps(std::size_t steps) {
  for (std::size_t i = 0; i < steps; ++i)
    interrupt::poll();
}

constexpr std::size_t kManySteps = 4 * interrupt::detail::kStepsPerLook;

TEST(Interrupt, PollRunsTheInstalledCheckOfItsScope) {
  g_checks = 0;
  poll_steps(kManySteps);  // nothing installed
  {
    interrupt::Scope scope(&stop_check);
    make_check_due();
    EXPECT_THROW(poll_steps(kManySteps), interrupt::Interrupted);
    EXPECT_EQ(g_checks, 1);
    {
      interrupt::Scope inner(&go_on_check);
      make_check_due();
      poll_steps(kManySteps);
      EXPECT_EQ(g_checks, 2);  // not again before the interval has passed
      make_check_due();
      EXPECT_FALSE(interrupt::stop_requested(kManySteps));  // weighted: due at once
      EXPECT_EQ(g_checks, 3);
    }
    make_check_due();
    EXPECT_TRUE(interrupt::stop_requested(kManySteps));  // the outer check again
  }
  make_check_due();
  poll_steps(kManySteps);
  EXPECT_EQ(g_checks, 4);
}

// Readers and searches stop midway and leave the graph as it was; a reader stopped inside its
// batch of edges takes the batch out again.
TEST(Interrupt, LongComputationsStopAndLeaveTheGraphAsItWas) {
  TestDag ladder;  // 2^20 paths from top to bottom
  testing::build(ladder, "top");
  std::vector<std::string> above{"top"};
  for (int i = 0; i < 21; ++i) {
    const std::vector<std::string> below =
        i < 20 ? std::vector<std::string>{"l" + std::to_string(i), "r" + std::to_string(i)}
               : std::vector<std::string>{"bottom"};
    for (const std::string& v : below) {
      ASSERT_TRUE(ladder.add_node(v, 0).ok());
      for (const std::string& u : above)
        ASSERT_TRUE(ladder.add_edge(u, v, std::nullopt, std::nullopt).ok());
    }
    above = below;
  }
  TestDag parallel;  // more edges than steps between two looks
  testing::build(parallel, "a b");
  for (std::size_t i = 0; i < kManySteps; ++i)
    ASSERT_TRUE(parallel.add_edge("a", "b", std::nullopt, std::nullopt).ok());
  const std::string text = to_json(parallel).value(), bytes = to_bincode(parallel);
  const auto generation = ladder.generation();
  TestDag from_text, from_bytes;
  {
    interrupt::Scope scope(&stop_check);
    make_check_due();
    EXPECT_THROW((void)all_paths(ladder, "top", "bottom", std::nullopt), interrupt::Interrupted);
    make_check_due();
    EXPECT_THROW((void)from_json_into(text, from_text), interrupt::Interrupted);
    make_check_due();
    const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                             bytes.size());
    EXPECT_THROW((void)from_bincode_into(data, from_bytes), interrupt::Interrupted);
  }
  EXPECT_EQ(ladder.generation(), generation);
  EXPECT_EQ(all_paths(ladder, "top", "bottom", 5).value().size(), 5u);
  EXPECT_EQ(from_text.node_count(), 0u) << "a text that fails to read adds nothing";
  EXPECT_EQ(from_bytes.node_count(), 2u);
  EXPECT_EQ(from_bytes.edge_count(), 0u);
  EXPECT_EQ(from_bytes.generation(), 2u);
  EXPECT_TRUE(testing::check_store_invariants(from_bytes));
  EXPECT_TRUE(from_bytes.add_edge("b", "a", std::nullopt, std::nullopt).ok());
}

// Comparisons and texts of whole graphs stop in every stretch: the walk over edges, and the sort
// by name, which leaves the list it was given as it was.
TEST(Interrupt, DiffSortAndDotTextStopMidway) {
  TestDag parallel;  // more edges than steps between two looks
  testing::build(parallel, "a b");
  for (std::size_t i = 0; i < kManySteps; ++i)
    ASSERT_TRUE(parallel.add_edge("a", "b", std::nullopt, std::nullopt).ok());
  TestDag many;  // more nodes than steps between two looks
  for (std::size_t i = 0; i < kManySteps; ++i)
    ASSERT_TRUE(many.add_node("n" + std::to_string(kManySteps - i), 0).ok());
  IndexList slots(kManySteps);
  for (NodeIndex n = 0; n < kManySteps; ++n)
    slots[n] = n;
  const IndexList unsorted = slots;
  interrupt::Scope scope(&stop_check);
  make_check_due();
  EXPECT_THROW((void)algorithms::structural_diff(parallel.graph(), parallel.graph()),
               interrupt::Interrupted);
  make_check_due();
  EXPECT_THROW((void)to_dot_with(parallel, nullptr), interrupt::Interrupted);
  make_check_due();
  // Steps enough for gathering the keys: the look falls due inside the sort itself.
  interrupt::detail::t_state.countdown = kManySteps + 1;
  EXPECT_THROW(algorithms::sort_by_name(many.graph(), slots), interrupt::Interrupted);
  EXPECT_EQ(slots, unsorted);
}

// Every pass over a whole graph looks for the signal: the dependency lists of a change, the
// statistics, the dominator tree, the encoders and the cost map by name.
TEST(Interrupt, WholeGraphPassesStopMidway) {
  TestDag chain;  // more nodes than steps between two looks
  std::string line = "n0";
  for (std::size_t i = 1; i < kManySteps; ++i)
    line += ">n" + std::to_string(i);
  testing::build(chain, line);
  const IndexList changed{0, 1};
  CostMap costs;
  for (std::size_t i = 0; i < kManySteps; ++i)
    costs.emplace("n" + std::to_string(i), 2.0);
  const std::vector<std::function<void()>> passes = {
      [&] { (void)algorithms::change_provenance(chain.graph(), changed); },
      [&] { (void)stats(chain); },
      [&] { (void)dominator_tree(chain, "n0"); },
      [&] { (void)to_json(chain); },
      [&] { (void)to_bincode(chain); },
      [&] { (void)bottom_levels(chain, costs); },
      [&] { (void)execution_plan_constrained(chain, 2, costs); },
  };
  interrupt::Scope scope(&stop_check);
  for (std::size_t i = 0; i < passes.size(); ++i) {
    make_check_due();
    EXPECT_THROW(passes[i](), interrupt::Interrupted) << "pass " << i;
  }
}

}  // namespace
}  // namespace torvex
