#include "p2p_core/peer/peers_list.hpp"

#include <algorithm>

namespace valdori::p2p::peer {

PeersList::PeersList(std::size_t expected_peers)
    : peers_(std::min(expected_peers, kMaxPresizedPeers)), short_ids_(std::min(expected_peers, kMaxPresizedPeers)) {}

std::optional<Peer> PeersList::find(const PubKey& key) const { return peers_.find(key); }

std::shared_ptr<NodePeer> PeersList::find_node_peer(const PubKey& key) const {
  const auto peer = find(key);
  return peer ? as_node_peer(*peer) : nullptr;
}

std::shared_ptr<SuperPeer> PeersList::find_super_peer(const PubKey& key) const {
  const auto peer = find(key);
  return peer ? as_super_peer(*peer) : nullptr;
}

std::vector<std::pair<PubKey, Peer>> PeersList::snapshot() const { return peers_.snapshot(); }

void PeersList::insert_or_assign(const PubKey& key, Peer peer) { peers_.insert_or_assign(key, std::move(peer)); }

Peer PeersList::insert_if_absent(const PubKey& key, Peer peer) {
  return peers_.insert_if_absent(key, std::move(peer)).first;
}

void PeersList::remove_node_peer(const std::shared_ptr<NodePeer>& peer) {
  const bool removed = peers_.erase_if(peer->key(), [&](const Peer& entry) { return as_node_peer(entry) == peer; });
  if (removed) erase_short_id(peer->rx_short_id(), peer->key());
}

std::optional<PubKey> PeersList::find_by_short_id(const message::ShortId& id) const { return short_ids_.find(id); }

message::ShortId PeersList::assign_rx_short_id(NodePeer& peer) {
  message::ShortId id = message::ShortId::random();
  while (!short_ids_.insert(id, peer.key())) id = message::ShortId::random();
  peer.set_rx_short_id(id);
  return id;
}

void PeersList::erase_short_id(const message::ShortId& id, const PubKey& owner) {
  short_ids_.erase_if(id, [&](const PubKey& key) { return key == owner; });
}

}  // namespace valdori::p2p::peer
