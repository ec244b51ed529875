// The node's two clocks, in unsigned 64-bit microseconds. The wall clock (since the Unix epoch)
// gives the times HELLOs carry, which peers compare with their own clocks. The interval clock
// measures every timeout, deadline, "last heard" and latency: it reads like the wall clock when
// first read and then advances with IntervalClock, so a step of the wall clock moves no deadline
// and a suspend ages every answer by as long as the machine slept.
// Peers, paths and messages keep their times in whole milliseconds; latencies are measured in
// microseconds. A test gives the node clocks of its own.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>

namespace valdori::p2p::node {

using Clock = std::function<std::uint64_t()>;

inline std::uint64_t system_time_us() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(since_epoch).count());
}

inline std::uint64_t system_time_ms() { return system_time_us() / 1000; }

// A clock that never steps and counts the time the machine is suspended: a path that died while
// it slept must not look answered after the resume. CLOCK_BOOTTIME where there is one (Linux,
// Android); elsewhere the monotonic clock, which counts a sleep on Apple's systems.
struct IntervalClock {
  using duration = std::chrono::nanoseconds;
  using rep = duration::rep;
  using period = duration::period;
  using time_point = std::chrono::time_point<IntervalClock>;
  static constexpr bool is_steady = true;

  static time_point now() noexcept {
    timespec ts{};
#ifdef CLOCK_BOOTTIME
    clock_gettime(CLOCK_BOOTTIME, &ts);
#else
    clock_gettime(CLOCK_MONOTONIC, &ts);
#endif
    return time_point(std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec));
  }
};

inline std::uint64_t interval_time_us() {
  static const std::uint64_t wall_at_start = system_time_us();
  static const auto interval_at_start = IntervalClock::now();
  const auto since_start = IntervalClock::now() - interval_at_start;
  return wall_at_start +
         static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(since_start).count());
}

inline std::uint64_t interval_time_ms() { return interval_time_us() / 1000; }

// Milliseconds from `then` to `now`; 0 when `then` lies ahead (clocks step, peers' clocks differ).
constexpr std::uint64_t elapsed_ms(std::uint64_t now, std::uint64_t then) { return now > then ? now - then : 0; }

}  // namespace valdori::p2p::node
