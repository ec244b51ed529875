#include "tools/super_peer/server/unite_limiter.hpp"

#include <algorithm>

namespace valdori::super_peer {

std::size_t UniteLimiter::PairHash::operator()(const Pair& pair) const noexcept {
  const std::hash<p2p::PubKey> hash;
  return hash(pair.first) ^ (hash(pair.second) * 0x9e3779b97f4a7c15U);
}

bool UniteLimiter::allow(const p2p::PubKey& a, const p2p::PubKey& b, Clock::time_point now) {
  forget_expired(now);
  const Pair pair = std::minmax(a, b);
  // Every pair still kept was united within the interval.
  if (last_united_.peek(pair)) return false;
  last_united_.get_or_insert(pair, [&] { return now; });
  return true;
}

void UniteLimiter::forget_expired(Clock::time_point now) {
  while (const auto* oldest = last_united_.oldest()) {
    if (now - oldest->second < kInterval) return;
    last_united_.pop_oldest();
  }
}

}  // namespace valdori::super_peer
