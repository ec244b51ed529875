// The shared budget taken from many threads at once: together they never get more than the
// bucket holds, and every refusal is counted.
#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "p2p_core/net/rate_budget.hpp"

namespace valdori::p2p::net {
namespace {

TEST(RateBudgetConcurrency, ThreadsTogetherTakeTheBurstOnly) {
  constexpr int kThreads = 4;
  constexpr int kTries = 1000;
  constexpr std::uint32_t kBurst = 100;
  RateBudget budget(1'000, kBurst);
  std::atomic<int> passed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < kTries; ++i) passed += budget.take(5'000) ? 1 : 0;
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(passed.load(), static_cast<int>(kBurst));
  EXPECT_EQ(budget.refused(), kThreads * kTries - kBurst);
}

}  // namespace
}  // namespace valdori::p2p::net
