#include "interrupt.hpp"

#include <gtest/gtest.h>

#include <string>

#include "graph/paths.hpp"
#include "graph/serialization.hpp"
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
}

void poll_steps(std::size_t steps) {
  for (std::size_t i = 0; i < steps; ++i) interrupt::poll();
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

TEST(Interrupt, LongComputationsStopAndLeaveTheGraphAsItWas) {
  // A ladder: 2^20 paths from top to bottom.
  TestDag dag;
  ASSERT_TRUE(dag.add_node("top", 0).ok());
  ASSERT_TRUE(dag.add_node("bottom", 0).ok());
  std::vector<std::string> above{"top"};
  for (int i = 0; i < 20; ++i) {
    const std::string l = "l" + std::to_string(i), r = "r" + std::to_string(i);
    ASSERT_TRUE(dag.add_node(l, 0).ok() && dag.add_node(r, 0).ok());
    for (const std::string& u : above) {
      ASSERT_TRUE(dag.add_edge(u, l, std::nullopt, std::nullopt).ok());
      ASSERT_TRUE(dag.add_edge(u, r, std::nullopt, std::nullopt).ok());
    }
    above = {l, r};
  }
  for (const std::string& u : above)
    ASSERT_TRUE(dag.add_edge(u, "bottom", std::nullopt, std::nullopt).ok());
  TestDag wide;  // more records than steps between two looks
  for (std::size_t i = 0; i < kManySteps; ++i)
    ASSERT_TRUE(wide.add_node("n" + std::to_string(i), 0).ok());
  const std::string text = to_json(wide).value();
  const auto generation = dag.generation();
  {
    interrupt::Scope scope(&stop_check);
    make_check_due();
    EXPECT_THROW((void)all_paths(dag, "top", "bottom", std::nullopt), interrupt::Interrupted);
    make_check_due();
    EXPECT_THROW((void)from_json<int>(text), interrupt::Interrupted);
  }
  EXPECT_EQ(dag.generation(), generation);
  EXPECT_EQ(all_paths(dag, "top", "bottom", 5).value().size(), 5u);
  EXPECT_TRUE(dag.validate().ok());
}

}  // namespace
}  // namespace torvex
