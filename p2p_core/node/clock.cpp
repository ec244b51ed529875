#include "p2p_core/node/clock.hpp"

#include <chrono>

namespace valdori::p2p::node {

std::uint64_t system_time_ms() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch).count());
}

}  // namespace valdori::p2p::node
