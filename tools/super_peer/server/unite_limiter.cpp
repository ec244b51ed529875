#include "tools/super_peer/server/unite_limiter.hpp"

#include <algorithm>
#include <cstddef>

namespace valdori::super_peer {
namespace {

// Past this many remembered pairs, expired ones are forgotten.
constexpr std::size_t kPruneThreshold = 4096;

}  // namespace

bool UniteLimiter::allow(const p2p::PubKey& a, const p2p::PubKey& b, Clock::time_point now) {
  auto [it, inserted] = last_united_.try_emplace(std::minmax(a, b), now);
  if (!inserted) {
    if (now - it->second < kInterval) return false;
    it->second = now;
  } else if (last_united_.size() > kPruneThreshold) {
    forget_expired(now);
  }
  return true;
}

void UniteLimiter::forget_expired(Clock::time_point now) {
  std::erase_if(last_united_, [&](const auto& entry) { return now - entry.second >= kInterval; });
}

}  // namespace valdori::super_peer
