#include "p2p_core/net/rate_budget.hpp"

#include <algorithm>

namespace valdori::p2p::net {

RateBudget::RateBudget(std::uint64_t interval_us, std::uint32_t burst)
    : interval_us_(interval_us), burst_span_us_(interval_us * std::max<std::uint32_t>(burst, 1)) {}

bool RateBudget::take(std::uint64_t now_ms) {
  const std::uint64_t now = now_ms * 1000;
  std::uint64_t full_at = full_at_us_.load(std::memory_order_relaxed);
  for (;;) {
    // Further ahead than a whole burst only when the clock stepped back: count from now then,
    // so that a step back does not close the bucket for as long as the step.
    const std::uint64_t from = full_at > now + burst_span_us_ ? now : std::max(full_at, now);
    const std::uint64_t next = from + interval_us_;
    if (next - now > burst_span_us_) {
      refused_.fetch_add(1, std::memory_order_relaxed);
      return false;
    }
    if (full_at_us_.compare_exchange_weak(full_at, next, std::memory_order_relaxed)) return true;
  }
}

}  // namespace valdori::p2p::net
