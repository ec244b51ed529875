// Members and strangers: who gets room in the peers table of NodeInner.
#include <algorithm>

#include "p2p_core/node/logger.hpp"
#include "p2p_core/node/node_inner.hpp"

namespace valdori::p2p::node {

void NodeInner::set_members(std::shared_ptr<const MemberKeys> members) {
  members_.store(std::move(members));
  recount_strangers();
}

bool NodeInner::is_member(const PubKey& key) const {
  const auto members = members_.load();
  return members && members->contains(key);
}

bool NodeInner::is_stranger(const PubKey& key) const {
  const auto members = members_.load();
  return members && !members->contains(key);
}

std::uint64_t NodeInner::stranger_limit() const {
  return std::max<std::uint64_t>((opts_.max_peers != 0 ? opts_.max_peers : kDefaultMaxPeers) / 4, 1);
}

boost::system::result<void, error::Error> NodeInner::make_room_for(const PubKey& sender, bool evict) {
  const auto members = members_.load();
  if (!members) {
    if (is_full()) return error::PeersListCapacityExceeded{opts_.max_peers};
    return {};
  }
  if (!members->contains(sender)) {
    if (is_full()) return error::PeersListCapacityExceeded{opts_.max_peers};
    if (stranger_count() >= stranger_limit()) return error::PeersListCapacityExceeded{stranger_limit()};
    return {};
  }
  if (evict && is_full()) evict_a_stranger();
  return {};
}

void NodeInner::evict_a_stranger() {
  std::shared_ptr<peer::NodePeer> quietest;
  for (const auto& [key, entry] : peers_.snapshot()) {
    const auto node_peer = peer::as_node_peer(entry);
    if (!node_peer || !is_stranger(key)) continue;
    if (!quietest || node_peer->last_active() < quietest->last_active()) quietest = node_peer;
  }
  if (!quietest) return;
  peers_.remove_node_peer(quietest);
  recount_strangers();
  VLOG_DEBUG(node_logger(), "Evicted stranger {} to make room for a member", quietest->key());
}

void NodeInner::recount_strangers() {
  const auto snapshot = peers_.snapshot();
  const auto count = std::ranges::count_if(
      snapshot, [&](const auto& entry) { return peer::as_node_peer(entry.second) && is_stranger(entry.first); });
  strangers_.store(static_cast<std::size_t>(count), std::memory_order_relaxed);
}

}  // namespace valdori::p2p::node
