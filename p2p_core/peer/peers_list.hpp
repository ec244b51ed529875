// The node's peers: the map from public key to peer, the index of receive short ids, and the
// default route (the super peer that relays what has no direct path).
//
// Both maps are sharded concurrent maps (sharded_map.hpp): a lookup holds one shard's read lock
// for the copy of one entry, so no lookup takes a table-wide lock and readers of different
// shards never meet; a copy-on-write snapshot would make every admission copy the whole table.
// libcuckoo was the first choice, but when its table grows it reads its list of lock arrays
// unsynchronised while another thread appends to it: a data race, reported by ThreadSanitizer
// under which the concurrency suites run. Walks run on `snapshot()`, a copy taken shard by
// shard, so no lock is held across their waits.
#pragma once

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

#include "p2p_core/concurrent/atomic_snapshot.hpp"
#include "p2p_core/concurrent/sharded_map.hpp"
#include "p2p_core/identity/keys.hpp"
#include "p2p_core/message/short_header.hpp"
#include "p2p_core/peer/peer.hpp"

namespace valdori::p2p::peer {

// Pre-sizing beyond this many entries is not done at once: the table grows when needed, and a
// huge `max_peers` must not allocate a huge table up front.
inline constexpr std::size_t kMaxPresizedPeers = 8192;

class PeersList {
 public:
  // Room for `expected_peers` entries (at most kMaxPresizedPeers). The default route is the
  // all-zero key until the node sets it.
  explicit PeersList(std::size_t expected_peers);
  PeersList(const PeersList&) = delete;
  PeersList& operator=(const PeersList&) = delete;

  std::optional<Peer> find(const PubKey& key) const;
  std::shared_ptr<NodePeer> find_node_peer(const PubKey& key) const;
  std::shared_ptr<SuperPeer> find_super_peer(const PubKey& key) const;
  std::size_t size() const { return peers_.size(); }
  std::vector<std::pair<PubKey, Peer>> snapshot() const;

  void insert_or_assign(const PubKey& key, Peer peer);
  // Stores `peer` unless the key has an entry already; returns the entry stored in the end.
  Peer insert_if_absent(const PubKey& key, Peer peer);
  // Removes `peer` if it is still the entry under its key, and its receive short id.
  void remove_node_peer(const std::shared_ptr<NodePeer>& peer);

  std::optional<PubKey> find_by_short_id(const message::ShortId& id) const;
  // Draws receive short ids until one is free, enters it for `peer` and gives it to `peer`: the
  // index entry exists before the peer carries the id. Never replaces another peer's entry.
  message::ShortId assign_rx_short_id(NodePeer& peer);
  // Removes the index entry of `id` if it still belongs to `owner`.
  void erase_short_id(const message::ShortId& id, const PubKey& owner);

  PubKey default_route() const { return *default_route_.load(); }
  void set_default_route(const PubKey& key) { default_route_.store(key); }

 private:
  concurrent::ShardedMap<PubKey, Peer> peers_;
  concurrent::ShardedMap<message::ShortId, PubKey> short_ids_;
  concurrent::AtomicSnapshot<PubKey> default_route_;
};

}  // namespace valdori::p2p::peer
