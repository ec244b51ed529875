#include "p2p_core/peer/peers_list.hpp"

#include <algorithm>

namespace valdori::p2p::peer {
namespace {

// libcuckoo's default size is a quarter million slots; a node without pre-sizing starts small.
constexpr std::size_t kMinTableSize = 16;

std::size_t table_size(std::size_t expected_peers) {
  return std::clamp(expected_peers, kMinTableSize, kMaxPresizedPeers);
}

}  // namespace

PeersList::PeersList(std::size_t expected_peers)
    : peers_(table_size(expected_peers)), short_ids_(table_size(expected_peers)) {}

std::optional<Peer> PeersList::find(const PubKey& key) const {
  std::optional<Peer> found;
  peers_.find_fn(key, [&](const Peer& peer) { found = peer; });
  return found;
}

std::shared_ptr<NodePeer> PeersList::find_node_peer(const PubKey& key) const {
  const auto peer = find(key);
  return peer ? as_node_peer(*peer) : nullptr;
}

std::shared_ptr<SuperPeer> PeersList::find_super_peer(const PubKey& key) const {
  const auto peer = find(key);
  return peer ? as_super_peer(*peer) : nullptr;
}

std::vector<std::pair<PubKey, Peer>> PeersList::snapshot() const {
  std::vector<std::pair<PubKey, Peer>> entries;
  const auto locked = peers_.lock_table();
  entries.reserve(locked.size());
  for (const auto& entry : locked) entries.emplace_back(entry.first, entry.second);
  return entries;
}

void PeersList::insert_or_assign(const PubKey& key, Peer peer) { peers_.insert_or_assign(key, std::move(peer)); }

Peer PeersList::insert_if_absent(const PubKey& key, Peer peer) {
  Peer stored = peer;
  peers_.uprase_fn(
      key,
      [&](Peer& existing) {
        stored = existing;
        return false;
      },
      std::move(peer));
  return stored;
}

void PeersList::remove_node_peer(const std::shared_ptr<NodePeer>& peer) {
  bool removed = false;
  peers_.erase_fn(peer->key(), [&](const Peer& entry) { return removed = as_node_peer(entry) == peer; });
  if (removed) erase_short_id(peer->rx_short_id(), peer->key());
}

std::optional<PubKey> PeersList::find_by_short_id(const message::ShortId& id) const {
  std::optional<PubKey> owner;
  short_ids_.find_fn(id, [&](const PubKey& key) { owner = key; });
  return owner;
}

message::ShortId PeersList::assign_rx_short_id(NodePeer& peer) {
  message::ShortId id = message::ShortId::random();
  while (!short_ids_.insert(id, peer.key())) id = message::ShortId::random();
  peer.set_rx_short_id(id);
  return id;
}

void PeersList::erase_short_id(const message::ShortId& id, const PubKey& owner) {
  short_ids_.erase_fn(id, [&](const PubKey& key) { return key == owner; });
}

}  // namespace valdori::p2p::peer
