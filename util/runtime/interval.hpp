// A periodic timer: `co_await interval.tick()` completes at start, start + period,
// start + 2 * period, ... The first tick completes at once. Deadlines advance by exactly one
// period per tick and are never reset to "now", so ticks missed while the consumer was busy
// fire back to back until the schedule has caught up (burst behaviour).
//
// One consumer at a time (like an Asio timer, an Interval is not safe for concurrent use);
// `tick()` honours Asio per-operation cancellation (it throws operation_aborted and the missed
// tick is not consumed).
#pragma once

#include <chrono>

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/steady_timer.hpp>

namespace valdori::util {

class Interval {
 public:
  using clock = std::chrono::steady_clock;

  // First tick now. Throws std::invalid_argument when `period` is not positive.
  Interval(const boost::asio::any_io_executor& executor, clock::duration period);
  // First tick at `start`.
  Interval(const boost::asio::any_io_executor& executor, clock::duration period, clock::time_point start);

  // Waits for the next deadline and returns it (the scheduled time, not the time of waking).
  boost::asio::awaitable<clock::time_point> tick();

  // The deadline of the next tick.
  clock::time_point next_deadline() const noexcept { return next_; }
  clock::duration period() const noexcept { return period_; }
  // Restarts the schedule: the next tick at now + period.
  void reset();

 private:
  boost::asio::steady_timer timer_;
  clock::duration period_;
  clock::time_point next_;
};

}  // namespace valdori::util
