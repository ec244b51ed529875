// How often a super peer introduces the same two nodes to each other: while it relays between
// them it would otherwise send a pair of UNITEs with every message.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <utility>

#include "p2p_core/identity/keys.hpp"
#include "tools/super_peer/server/node_registry.hpp"
#include "util/container/lru_map.hpp"

namespace valdori::super_peer {

// The pairs are kept in the order they were united, so that those whose interval has passed are
// forgotten from the front, each once: a relay costs bounded work however many pairs there are.
// Past `kMaxPairs` the pair united longest ago is forgotten early, which at worst introduces it
// again before its interval has passed.
class UniteLimiter {
 public:
  // Nodes retry a direct path on every housekeeping pass (5 s by default); two passes is enough
  // time for one introduction to take effect.
  static constexpr Clock::duration kInterval = std::chrono::seconds(10);
  // Some 3 MB; pairs are forgotten early only beyond some 1,600 new pairs a second.
  static constexpr std::size_t kMaxPairs = 16384;

  explicit UniteLimiter(std::size_t max_pairs = kMaxPairs) : last_united_(max_pairs) {}

  // True, and the pair marked as united now, when the pair was not united within the interval.
  // The order of the two keys does not matter.
  bool allow(const p2p::PubKey& a, const p2p::PubKey& b, Clock::time_point now);

 private:
  using Pair = std::pair<p2p::PubKey, p2p::PubKey>;
  struct PairHash {
    std::size_t operator()(const Pair& pair) const noexcept;
  };

  void forget_expired(Clock::time_point now);

  util::LruMap<Pair, Clock::time_point, PairHash> last_united_;  // united longest ago first
};

}  // namespace valdori::super_peer
