// One budget shared by all sources: a burst, then one per interval, also when the interval is
// shorter than the clock's millisecond; a clock that steps back does not close it.
#include "p2p_core/net/rate_budget.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace valdori::p2p::net {
namespace {

constexpr std::uint64_t kT0 = 1'000'000;  // ms

struct Step {
  std::uint64_t at_ms;  // after kT0
  int tries;
  int passed;
};

TEST(RateBudget, ABurstThenOnePerInterval) {
  struct Case {
    const char* name;
    std::uint64_t interval_us;
    std::uint32_t burst;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"a burst, then one per interval", 20'000, 4, {{0, 10, 4}, {19, 10, 0}, {20, 10, 1}, {60, 10, 2}}},
      {"refilled, never above the burst", 20'000, 4, {{0, 4, 4}, {1'000, 10, 4}}},
      {"several per millisecond", 250, 8, {{0, 20, 8}, {1, 20, 4}, {3, 20, 8}}},
      {"a step back of the clock starts from the step", 20'000, 4, {{60'000, 10, 4}, {0, 10, 4}, {20, 10, 1}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RateBudget budget(c.interval_us, c.burst);
    int refused = 0;
    for (const auto& step : c.steps) {
      int passed = 0;
      for (int i = 0; i < step.tries; ++i) passed += budget.take(kT0 + step.at_ms) ? 1 : 0;
      EXPECT_EQ(passed, step.passed) << "at " << step.at_ms << " ms";
      refused += step.tries - passed;
    }
    EXPECT_EQ(budget.refused(), static_cast<std::uint64_t>(refused));
  }
}

}  // namespace
}  // namespace valdori::p2p::net
