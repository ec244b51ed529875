// The shared budget taken from many threads at once: together they never get more than the
// bucket holds, and every refusal is counted; taken with the limits per source, a request spends
// of both or of neither.
#include <array>
#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "p2p_core/net/rate_budget.hpp"
#include "p2p_core/net/source_rate_limiter.hpp"

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

// The sources could take twice what the budget holds: the budget is met exactly, and each source
// keeps what it did not get.
TEST(RateBudgetConcurrency, ARequestTheBudgetRefusesKeepsItsSourcesAllowance) {
  constexpr int kThreads = 4;
  constexpr std::uint32_t kSourceBurst = 50;
  const std::array<boost::asio::ip::address, 4> sources{
      boost::asio::ip::make_address("192.0.2.1"), boost::asio::ip::make_address("192.0.2.2"),
      boost::asio::ip::make_address("192.0.2.3"), boost::asio::ip::make_address("192.0.2.4")};
  SourceRateLimiter limiter(1'000, kSourceBurst, sources.size());
  RateBudget budget(1'000, 100);
  std::array<std::atomic<std::uint32_t>, sources.size()> allowed{};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i)
        for (std::size_t s = 0; s < sources.size(); ++s)
          allowed[s] += limiter.allow(sources[s], 5'000, budget) == Admission::Allowed ? 1 : 0;
    });
  for (auto& thread : threads) thread.join();
  std::uint32_t total = 0;
  for (std::size_t s = 0; s < sources.size(); ++s) {
    total += allowed[s];
    RateBudget unspent(1'000, kSourceBurst);
    std::uint32_t left = 0;
    while (limiter.allow(sources[s], 5'000, unspent) == Admission::Allowed) ++left;
    EXPECT_EQ(allowed[s] + left, kSourceBurst) << sources[s];
  }
  EXPECT_EQ(total, 100u);
}

}  // namespace
}  // namespace valdori::p2p::net
