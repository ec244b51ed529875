// How often a super peer introduces the same two nodes to each other: while it relays between
// them it would otherwise send a pair of UNITEs with every message.
#pragma once

#include <chrono>
#include <map>
#include <utility>

#include "p2p_core/identity/keys.hpp"
#include "tools/super_peer/server/node_registry.hpp"

namespace valdori::super_peer {

class UniteLimiter {
 public:
  // Nodes retry a direct path on every housekeeping pass (5 s by default); two passes is enough
  // time for one introduction to take effect.
  static constexpr Clock::duration kInterval = std::chrono::seconds(10);

  // True, and the pair marked as united now, when the pair was not united within the interval.
  // The order of the two keys does not matter.
  bool allow(const p2p::PubKey& a, const p2p::PubKey& b, Clock::time_point now);

 private:
  void forget_expired(Clock::time_point now);

  std::map<std::pair<p2p::PubKey, p2p::PubKey>, Clock::time_point> last_united_;
};

}  // namespace valdori::super_peer
