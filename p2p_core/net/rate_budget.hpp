// One rate limit that all sources share: a token bucket for work that a limit per source leaves
// unbounded once the sources are many, such as key agreements with keys never seen. Its numbers
// bound what the work costs in all, whatever the number of addresses a flood comes from.
//
// Any thread may use it, without a lock: the bucket is one atomic word, taken by compare and
// swap; a refusal only reads it (and counts itself).
#pragma once

#include <atomic>
#include <cstdint>

namespace valdori::p2p::net {

class RateBudget {
 public:
  // `burst` at once, then one every `interval_us` microseconds.
  RateBudget(std::uint64_t interval_us, std::uint32_t burst);

  // Takes one at `now_ms` (node-clock milliseconds); false when the bucket is empty.
  bool take(std::uint64_t now_ms);
  // How many takes were refused.
  std::uint64_t refused() const { return refused_.load(std::memory_order_relaxed); }

 private:
  const std::uint64_t interval_us_;
  const std::uint64_t burst_span_us_;
  // The bucket as the time it would be full again (the "theoretical arrival time" of GCRA).
  std::atomic<std::uint64_t> full_at_us_{0};
  std::atomic<std::uint64_t> refused_{0};
};

}  // namespace valdori::p2p::net
