// The node's two clocks, in unsigned 64-bit microseconds. The wall clock (since the Unix epoch)
// gives the times HELLOs carry, which peers compare with their own clocks. The interval clock
// measures every timeout, deadline and "last heard": it reads like the wall clock when first
// read and then advances with the monotonic clock, so a step of the wall clock moves no deadline.
// Peers, paths and messages keep their times in whole milliseconds; latencies are measured in
// microseconds. A test gives the node clocks of its own.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace valdori::p2p::node {

using Clock = std::function<std::uint64_t()>;

inline std::uint64_t system_time_us() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(since_epoch).count());
}

inline std::uint64_t system_time_ms() { return system_time_us() / 1000; }

inline std::uint64_t steady_time_us() {
  static const std::uint64_t wall_at_start = system_time_us();
  static const auto steady_at_start = std::chrono::steady_clock::now();
  const auto since_start = std::chrono::steady_clock::now() - steady_at_start;
  return wall_at_start +
         static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(since_start).count());
}

inline std::uint64_t steady_time_ms() { return steady_time_us() / 1000; }

// Milliseconds from `then` to `now`; 0 when `then` lies ahead (clocks step, peers' clocks differ).
constexpr std::uint64_t elapsed_ms(std::uint64_t now, std::uint64_t then) { return now > then ? now - then : 0; }

}  // namespace valdori::p2p::node
