// The node clock: unsigned 64-bit milliseconds since the Unix epoch. Peers and paths keep their
// times in it; a test gives the node a clock of its own.
#pragma once

#include <cstdint>
#include <functional>

namespace valdori::p2p::node {

using Clock = std::function<std::uint64_t()>;

std::uint64_t system_time_ms();

// Milliseconds from `then` to `now`; 0 when `then` lies ahead (clocks step, peers' clocks differ).
constexpr std::uint64_t elapsed_ms(std::uint64_t now, std::uint64_t then) { return now > then ? now - then : 0; }

}  // namespace valdori::p2p::node
