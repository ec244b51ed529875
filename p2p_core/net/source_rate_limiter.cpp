#include "p2p_core/net/source_rate_limiter.hpp"

#include <algorithm>

namespace valdori::p2p::net {

boost::asio::ip::address source_group(const boost::asio::ip::address& source) {
  if (!source.is_v6()) return source;
  const auto v6 = source.to_v6();
  if (v6.is_v4_mapped()) return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, v6);
  auto bytes = v6.to_bytes();
  std::fill(bytes.begin() + 8, bytes.end(), 0);
  return boost::asio::ip::address_v6(bytes);
}

SourceRateLimiter::SourceRateLimiter(std::uint64_t interval_ms, std::uint32_t burst, std::size_t max_sources)
    : interval_ms_(interval_ms),
      burst_span_ms_(interval_ms * std::max<std::uint32_t>(burst, 1)),
      full_at_(max_sources) {}

bool SourceRateLimiter::allow(const boost::asio::ip::address& source, std::uint64_t now_ms) {
  return take(source, now_ms, nullptr) == Admission::Allowed;
}

Admission SourceRateLimiter::allow(const boost::asio::ip::address& source, std::uint64_t now_ms, RateBudget& shared) {
  return take(source, now_ms, &shared);
}

Admission SourceRateLimiter::take(const boost::asio::ip::address& source, std::uint64_t now_ms, RateBudget* shared) {
  const std::lock_guard lock(mutex_);
  std::uint64_t& full_at = full_at_.get_or_insert(source_group(source), [&] { return now_ms; });
  const std::uint64_t next = std::max(full_at, now_ms) + interval_ms_;
  if (next - now_ms > burst_span_ms_) return Admission::SourceLimited;
  if (shared && !shared->take(now_ms)) return Admission::BudgetSpent;
  full_at = next;
  return Admission::Allowed;
}

}  // namespace valdori::p2p::net
