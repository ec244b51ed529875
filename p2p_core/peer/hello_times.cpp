#include "p2p_core/peer/hello_times.hpp"

#include <algorithm>

namespace valdori::p2p::peer {

std::uint64_t HelloClock::next(std::uint64_t now) {
  std::uint64_t latest = latest_.load(std::memory_order_relaxed);
  std::uint64_t time = 0;
  do {
    time = std::max(now, latest + 1);
  } while (!latest_.compare_exchange_weak(latest, time, std::memory_order_relaxed));
  return time;
}

bool HelloClock::is_in_future(std::uint64_t echoed, std::uint64_t now) const {
  return echoed > std::max(now, latest_.load(std::memory_order_relaxed));
}

HelloVerdict HelloFreshness::accept(std::uint64_t time, const net::SocketAddr& source, std::uint64_t now,
                                    std::uint64_t max_age) {
  if (time < now && now - time > max_age) return HelloVerdict::TooOld;
  if (time > now && time - now > max_age) return HelloVerdict::InFuture;
  bool replayed = false;
  newest_.update([&](Newest& newest) {
    replayed = newest.source && (time < newest.time || (time == newest.time && source != *newest.source));
    if (replayed || (newest.source && time == newest.time)) return false;
    newest = {time, source};
    return true;
  });
  return replayed ? HelloVerdict::Replayed : HelloVerdict::Fresh;
}

}  // namespace valdori::p2p::peer
