// A node peer: another member node this node has heard from. Every value is readable without a
// lock (atomics and snapshots), because the readers, the TCP links and the housekeeping all
// work on the same peers at once.
//
// Node-peer rules (times in node-clock milliseconds; path rules in peer_path.hpp):
// - Application traffic: an APP message was sent to or received from the peer at most
//   `window` ago (the housekeeping passes the HELLO timeout). Only then are its paths kept alive.
// - Reachable: some direct path is reachable. The best path is the first of the ranking if it
//   is reachable; an unreachable direct path is never used, the relay is.
// - Best relay: the super peer of the first reachable relay path in the ranking, else the
//   default route.
// - Stale: nothing received from the peer and no APP message sent to it for longer than
//   `quiet_limit`. The housekeeping uses twice the HELLO timeout: a peer with traffic towards
//   this node greets it every pass, so only a peer that has given up its own paths to this node
//   is dropped.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include <boost/system/result.hpp>

#include "p2p_core/concurrent/atomic_snapshot.hpp"
#include "p2p_core/concurrent/snapshot_map.hpp"
#include "p2p_core/crypto/session_keys.hpp"
#include "p2p_core/identity/keys.hpp"
#include "p2p_core/message/short_header.hpp"
#include "p2p_core/peer/error.hpp"
#include "p2p_core/peer/hello_times.hpp"
#include "p2p_core/peer/peer_path.hpp"
#include "p2p_core/peer/session_keys.hpp"

namespace valdori::p2p::peer {

// More direct paths than this per peer are refused: every UNITE and every HELLO from a new
// address would otherwise add one without bound.
inline constexpr std::size_t kMaxDirectPaths = 64;

// A node peer's cached proof-of-work verdict.
enum class PowStatus : std::uint8_t {
  Unknw = 0,  // not checked yet
  Ok = 1,
  Nok = 2,
};

// "Unknw", "Ok" or "Nok".
std::string_view debug(PowStatus status);

using RelayPathMap = concurrent::SnapshotMap<PubKey, std::shared_ptr<PeerPath>>;
using AppTxCell = std::shared_ptr<std::atomic<std::uint64_t>>;

class NodePeer {
 public:
  // A peer whose proof of work `pow` has passed the node's check, with the session keys agreed
  // with it (none when messages are not armed); its receive short id is assigned by the peers
  // list before the peer is stored.
  NodePeer(const PubKey& key, Pow pow, std::optional<crypto::SessionKeys> session_keys, std::uint64_t now,
           const PubKey& default_route);

  const PubKey& key() const { return key_; }
  std::uint64_t created_at() const { return created_at_; }
  std::optional<crypto::SessionKey> rx_key() const;
  std::optional<crypto::SessionKey> tx_key() const;

  // The verdict on the last proof of work checked for this peer.
  PowStatus pow() const;
  // Checks `pow` against `min_difficulty`, reusing the verdict when the pow is the one checked last.
  bool validate_pow(Pow pow, std::uint8_t min_difficulty);

  // All zero while none is assigned.
  message::ShortId rx_short_id() const;
  void set_rx_short_id(const message::ShortId& id);
  std::optional<message::ShortId> tx_short_id() const;
  void set_tx_short_id(const std::optional<message::ShortId>& id);

  void app_rx(std::uint64_t now) { app_rx_.store(now, std::memory_order_relaxed); }
  std::uint64_t app_rx_time() const { return app_rx_.load(std::memory_order_relaxed); }
  std::uint64_t app_tx_time() const { return app_tx_->load(std::memory_order_relaxed); }
  // Records an APP message sent at `time` unless a later one is recorded.
  void app_tx(std::uint64_t time);
  // The APP send time cell, shared with the send states of this peer's send handles.
  const AppTxCell& app_tx_cell() const { return app_tx_; }
  bool has_app_traffic(std::uint64_t now, std::uint64_t window) const;
  void clear_app_tx_rx();

  // The times of the HELLOs this node sends the peer.
  HelloClock& hello_clock() { return hello_clock_; }
  const HelloClock& hello_clock() const { return hello_clock_; }

  // Something arrived from the peer (HELLO, ACK, APP).
  void heard(std::uint64_t now) { heard_.store(now, std::memory_order_relaxed); }
  // When the peer was last heard from or sent to, or else created.
  std::uint64_t last_active() const;
  bool is_stale(std::uint64_t now, std::uint64_t quiet_limit) const;

  const PathMap& paths() const { return paths_; }
  PathMap& paths() { return paths_; }
  // The path under `key`, added when absent; none when the peer has kMaxDirectPaths already.
  std::pair<std::shared_ptr<PeerPath>, bool> add_path(const PeerPathKey& key);
  void clear_paths() { paths_.clear(); }
  std::vector<PeerPathKey> remove_stale_paths(std::uint64_t now, std::uint64_t hello_timeout);
  bool is_reachable(std::uint64_t now, std::uint64_t hello_timeout) const;
  std::optional<RankedPath> best_path(std::uint64_t now, std::uint64_t hello_timeout) const;
  std::optional<PeerPathKey> best_path_key(std::uint64_t now, std::uint64_t hello_timeout) const;

  const RelayPathMap& relay_paths() const { return relay_paths_; }
  RelayPathMap& relay_paths() { return relay_paths_; }
  PubKey best_sp() const { return *best_sp_.load(); }
  void update_best_relay(std::uint64_t now, std::uint64_t hello_timeout, const PubKey& default_route);

 private:
  const PubKey key_;
  const std::optional<crypto::SessionKeys> session_keys_;
  const std::uint64_t created_at_;
  std::atomic<std::uint64_t> pow_state_;  // the pow checked last and its verdict, in one word
  std::atomic<std::uint32_t> rx_short_id_{0};
  std::atomic<std::uint32_t> tx_short_id_{0};  // 0: none (no valid id is all zero)
  std::atomic<std::uint64_t> app_rx_{0};
  AppTxCell app_tx_ = std::make_shared<std::atomic<std::uint64_t>>(0);
  std::atomic<std::uint64_t> heard_{0};
  HelloClock hello_clock_;
  PathMap paths_;
  RelayPathMap relay_paths_;
  concurrent::AtomicSnapshot<PubKey> best_sp_;
};

}  // namespace valdori::p2p::peer
