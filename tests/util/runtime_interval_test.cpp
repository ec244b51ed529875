#include "util/runtime/interval.hpp"

#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/util/runtime_support.hpp"
#include "util/runtime/race.hpp"
#include "util/runtime/runtime.hpp"

namespace valdori::util {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;
using Clock = Interval::clock;

TEST(Interval, FirstTickCompletesAtOnce) {
  Runtime rt(2);
  auto [first, second] = rt.block_on([]() -> asio::awaitable<std::pair<bool, bool>> {
    auto ex = co_await asio::this_coro::executor;
    const auto start = Clock::now();
    Interval interval(ex, 1h, start);
    // With an hour-long period only the first tick can complete within the safety net.
    auto first_tick = co_await with_timeout(interval.tick(), testing::kSafetyNet);
    auto second_tick = co_await with_timeout(interval.tick(), 20ms);
    co_return std::pair{first_tick == start, second_tick.has_value()};
  }());
  EXPECT_TRUE(first);
  EXPECT_FALSE(second);
}

TEST(Interval, MissedTicksFireBackToBackOnTheOriginalSchedule) {
  Runtime rt(2);
  struct Result {
    Clock::time_point start, wake, after_burst;
    std::vector<Clock::time_point> burst;
  };
  auto r = rt.block_on([]() -> asio::awaitable<Result> {
    Result res;
    const auto period = 5ms;
    Interval interval(co_await asio::this_coro::executor, period);
    res.start = co_await interval.tick();
    // Stall the consumer for many periods.
    std::this_thread::sleep_for(60ms);
    res.wake = Clock::now();
    // Every tick due by now completes without waiting for the period.
    for (;;) {
      auto deadline = co_await interval.tick();
      if (deadline > res.wake) {
        res.after_burst = deadline;
        break;
      }
      res.burst.push_back(deadline);
    }
    co_return res;
  }());
  // 60 ms of stall with a 5 ms period: at least 12 ticks were missed and fired in a burst.
  ASSERT_GE(r.burst.size(), 12u);
  // The schedule advanced by exactly one period per tick, never reset to the wake-up time.
  for (std::size_t i = 0; i < r.burst.size(); ++i) {
    EXPECT_EQ(r.burst[i], r.start + (i + 1) * 5ms);
    EXPECT_LE(r.burst[i], r.wake);
  }
  EXPECT_EQ(r.after_burst, r.start + (r.burst.size() + 1) * 5ms);
  EXPECT_GT(r.after_burst, r.wake);
}

TEST(Interval, CancelledTickDoesNotConsumeTheDeadline) {
  Runtime rt(2);
  auto kept = rt.block_on([]() -> asio::awaitable<bool> {
    Interval interval(co_await asio::this_coro::executor, 1h);
    co_await interval.tick();
    const auto next = interval.next_deadline();
    auto timed_out = co_await with_timeout(interval.tick(), 10ms);
    co_return !timed_out && interval.next_deadline() == next;
  }());
  EXPECT_TRUE(kept);
}

TEST(Interval, ResetRestartsTheSchedule) {
  Runtime rt(1);
  auto ok = rt.block_on([]() -> asio::awaitable<bool> {
    Interval interval(co_await asio::this_coro::executor, 1h, Clock::now() - 10h);
    const auto before = Clock::now();
    interval.reset();
    co_return interval.next_deadline() >= before + 1h && interval.period() == 1h;
  }());
  EXPECT_TRUE(ok);
}

}  // namespace
}  // namespace valdori::util
