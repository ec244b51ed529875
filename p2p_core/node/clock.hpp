// The node clock: unsigned 64-bit microseconds since the Unix epoch. Peers, paths and messages
// keep their times in whole milliseconds of it; latencies are measured in its microseconds. A
// test gives the node a clock of its own.
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

// Milliseconds from `then` to `now`; 0 when `then` lies ahead (clocks step, peers' clocks differ).
constexpr std::uint64_t elapsed_ms(std::uint64_t now, std::uint64_t then) { return now > then ? now - then : 0; }

}  // namespace valdori::p2p::node
