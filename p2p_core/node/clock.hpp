// The node clock: unsigned 64-bit milliseconds since the Unix epoch. Peers and paths keep their
// times in it; a test gives the node a clock of its own.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace valdori::p2p::node {

using Clock = std::function<std::uint64_t()>;

inline std::uint64_t system_time_ms() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch).count());
}

// Milliseconds from `then` to `now`; 0 when `then` lies ahead (clocks step, peers' clocks differ).
constexpr std::uint64_t elapsed_ms(std::uint64_t now, std::uint64_t then) { return now > then ? now - then : 0; }

}  // namespace valdori::p2p::node
