// The shared state of a running overlay node: options and identity, the peers, the UDP
// bindings, the node clock, the receive path into the message sink, the message handlers that
// fill the reply records, the housekeeping steps and the send handles. The node's tasks share it
// by reference counting (create it with std::make_shared). Every operation may run on any
// thread at any time; the tables lock at most one shard or one value, only for the copy or
// change of one entry, and nothing is locked across a wait.
//
// Default-route rule: the default route stays on its super peer while that one is reachable;
// otherwise it moves to the first reachable super peer in configured order; while none is
// reachable it stays where it is. The send states relay through the default route only.
//
// Relayed messages: a message counts as relayed when it came over a super peer's TCP link, has
// a hop count, or comes from the address of a super peer's UDP path. Only messages that are not
// relayed make or confirm direct paths; a relayed ACK confirms the relay path through that
// super peer.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/system/result.hpp>
#include <boost/unordered/unordered_flat_set.hpp>

#include "p2p_core/concurrent/atomic_shared_ptr.hpp"
#include "p2p_core/concurrent/atomic_snapshot.hpp"
#include "p2p_core/concurrent/snapshot_map.hpp"
#include "p2p_core/message/app_message.hpp"
#include "p2p_core/message/control_messages.hpp"
#include "p2p_core/message/frame_codec.hpp"
#include "p2p_core/message/long_header.hpp"
#include "p2p_core/net/get_addrs.hpp"
#include "p2p_core/net/rate_budget.hpp"
#include "p2p_core/net/source_rate_limiter.hpp"
#include "p2p_core/node/clock.hpp"
#include "p2p_core/node/error.hpp"
#include "p2p_core/node/opts.hpp"
#include "p2p_core/node/send_handle.hpp"
#include "p2p_core/node/transmit.hpp"
#include "p2p_core/node/udp_binding.hpp"
#include "p2p_core/peer/agreement_cache.hpp"
#include "p2p_core/peer/hello_times.hpp"
#include "p2p_core/peer/peers_list.hpp"
#include "p2p_core/peer/session_keys.hpp"
#include "util/runtime/cancellation_token.hpp"

namespace valdori::p2p::node {

// Key agreements kept for senders not stored as peers (about 200 bytes each).
inline constexpr std::size_t kCachedAgreements = 2048;
// Key agreements with new senders that one source address may ask for: a burst, then one per
// interval. One costs some 70 µs, so a source at this rate takes a few thousandths of a core.
inline constexpr std::uint32_t kAgreementBurst = 32;
inline constexpr std::uint64_t kAgreementIntervalMs = 20;
inline constexpr std::size_t kAgreementSources = 1024;
// Key agreements with new senders that all sources together may ask for, on top of the limit
// per source: a burst, then 250 a second, some 2 % of a core. Without it the allowance grows
// with the addresses a flood comes from, and a source pushed out of the full table above comes
// back with a full burst; with it the work stays bounded however many addresses there are.
// Honest strangers are few (a peer of a network whose new member list the node has not yet been
// given); a flood may hold them back until it ends, never members.
inline constexpr std::uint32_t kAgreementBudgetBurst = 250;
inline constexpr std::uint64_t kAgreementBudgetIntervalUs = 4000;
// Senders whose HELLO times are kept against replays, at least.
inline constexpr std::size_t kHelloSenders = 8192;

using MemberKeys = boost::unordered_flat_set<PubKey, std::hash<PubKey>>;

struct NodeInit {
  NodeOpts opts;
  message::NetworkId network_id;
  std::optional<peer::AgreementKeys> agreement_keys;  // present exactly when messages are armed
  // At least one. A later entry replaces an earlier one with the same key; the first key is the
  // starting default route.
  std::vector<std::shared_ptr<peer::SuperPeer>> super_peers;
  UdpBindings bindings;
  std::uint16_t port = 0;  // the bindings' port; 0 until a socket got one
  util::CancellationToken token;
  boost::asio::any_io_executor executor;  // where sockets bound later live
  Clock clock = interval_time_us;         // intervals
  Clock wall_clock = system_time_us;      // HELLO times
};

class NodeInner : public std::enable_shared_from_this<NodeInner> {
 public:
  explicit NodeInner(NodeInit init);
  NodeInner(const NodeInner&) = delete;
  NodeInner& operator=(const NodeInner&) = delete;

  const NodeOpts& opts() const { return opts_; }
  const message::NetworkId& network_id() const { return network_id_; }
  const PubKey& pk() const { return opts_.id.pk(); }
  Pow pow() const { return opts_.id.pow(); }
  std::size_t max_message_len() const { return opts_.max_message_len; }
  const std::optional<peer::AgreementKeys>& agreement_keys() const { return agreement_keys_; }
  const util::CancellationToken& token() const { return token_; }
  const boost::asio::any_io_executor& executor() const { return executor_; }

  peer::PeersList& peers() { return peers_; }
  const peer::PeersList& peers() const { return peers_; }
  // The configured super peers, one per key; they stay for the node's life.
  const std::vector<std::shared_ptr<peer::SuperPeer>>& super_peers() const { return super_peers_; }

  // Reads the interval clock (clock.hpp) in milliseconds and keeps the value for cached_time().
  std::uint64_t current_time();
  // Reads the interval clock in microseconds, for measuring latencies.
  std::uint64_t current_time_us() const { return clock_(); }
  std::uint64_t cached_time() const { return cached_time_.load(std::memory_order_relaxed); }
  // Reads the wall clock in milliseconds: the time a HELLO carries, and what the age of a HELLO
  // or an ACK's echoed time is measured against.
  std::uint64_t wall_time() const { return wall_clock_() / 1000; }

  std::shared_ptr<const UdpBindings> udp_bindings() const { return bindings_.load(); }
  // A socket bound to `local`, from a binding that is not cancelled.
  SharedUdpSocket udp_socket_for(const net::SocketAddr& local) const;
  // Forgets `binding` (its reader has ended); the next housekeeping binds its address anew.
  void remove_udp_binding(const UdpBinding& binding);
  std::uint16_t port() const { return port_.load(std::memory_order_relaxed); }
  // The encoded endpoints (`addrs` on the node's port) that a HELLO to a super peer carries:
  // usable ones only, and no more than fit into a maximum-length armed HELLO.
  std::vector<std::uint8_t> my_endpoint_candidates(std::span<const boost::asio::ip::address> addrs) const;
  // The framing of a super-peer TCP link; frames up to the maximum message length.
  message::FrameCodec tcp_codec() const { return message::FrameCodec(opts_.max_message_len); }

  // Members and strangers (members.cpp). The agent gives the node the keys of the peers of its
  // applied networks with every change; once it has, every other sender is a stranger. Strangers
  // get at most a quarter of `max_peers` (of the default when it is 0) within the limit, and the
  // one heard least recently is evicted when a member needs room: a member is always admitted.
  // Until the keys are set no sender is told apart, and `max_peers` bounds them all (0: no
  // limit). Key agreements with every sender but a member are rate-limited per source address
  // and, all sources together, by one budget.
  void set_members(std::shared_ptr<const MemberKeys> members);
  bool is_member(const PubKey& key) const;
  bool is_stranger(const PubKey& key) const;
  std::size_t stranger_count() const { return strangers_.load(std::memory_order_relaxed); }
  // Key agreements with new senders that the budget of all sources refused.
  std::uint64_t agreements_over_budget() const { return agreement_budget_.refused(); }

  // Hands received application data to the message sink.
  void add_to_recv_buf(const PubKey& sender, std::span<const std::uint8_t> payload);
  // A node peer for the unknown sender of a long-header message from `source`, not stored yet:
  // the sender must not be this node, the peers list must have room for it, the proof of work
  // must meet the minimum and key agreement must work. Agreements are cached per sender key (kept
  // whether or not the message then authenticates), and those not cached are rate-limited per
  // source address and by the budget of all sources.
  boost::system::result<std::shared_ptr<peer::NodePeer>, error::Error> node_peer_candidate(
      const message::LongHeader& header, const boost::asio::ip::address& source);
  // Stores `candidate` with its receive short id once its message has authenticated, while the
  // peers list has room for it (a stranger may be evicted for a member). Returns the node peer stored under the key in
  // the end (another task may have stored one first).
  boost::system::result<std::shared_ptr<peer::NodePeer>, error::Error> store_node_peer(
      const std::shared_ptr<peer::NodePeer>& candidate);

  // Message handlers. `binding` is the receiving UDP binding (none for a TCP frame),
  // `arrival_link` the super peer whose TCP link carried the message (none for UDP).
  void on_app(peer::NodePeer& peer, const message::AppMessage& app);
  // Takes the time of a HELLO of `sender` when it is fresh (hello_times.hpp), once: taking it
  // again refuses it as a replay. Otherwise the reason it is refused; a sender that may not be
  // stored is refused before its time is taken, and a time further off this node's clock than
  // the maximum age is logged, since one of the two clocks is wrong.
  boost::system::result<void, error::Error> take_hello_time(const PubKey& sender, std::uint64_t time,
                                                            std::uint64_t now);
  // For a HELLO whose time was taken: learns the peer's short id for this node and the direct
  // path it came over, and queues the ACK back the way the HELLO came, and a HELLO of its own
  // over a direct path that is new.
  boost::system::result<void, error::Error> on_node_peer_hello(const net::SocketAddr& source, const UdpBinding* binding,
                                                               const message::LongHeader& header, peer::NodePeer& peer,
                                                               const message::HelloNodePeerMessage& hello,
                                                               const std::optional<PubKey>& arrival_link,
                                                               std::uint64_t now, UdpTransmits& udp_replies,
                                                               TcpTransmits& tcp_replies);
  // Checks the echoed time and records the answer on the path the ACK came over: the relay path,
  // or a direct path the node greeted (an ACK adds none).
  boost::system::result<void, error::Error> on_node_peer_ack(const net::SocketAddr& source, const UdpBinding* binding,
                                                             const message::LongHeader& header, peer::NodePeer& peer,
                                                             const message::AckMessage& ack,
                                                             const std::optional<PubKey>& arrival_link,
                                                             std::uint64_t now);
  // Records the answer on the super peer's UDP path or TCP link; outdated ACKs are ignored.
  void on_super_peer_ack(const net::SocketAddr& source, const UdpBinding* binding, peer::SuperPeer& super_peer,
                         const message::AckMessage& ack);
  // Adds direct paths to the named peer's endpoints and queues a HELLO over each new one, so
  // that both sides open their way at once.
  boost::system::result<void, error::Error> on_unite(const message::UniteMessage& unite, UdpTransmits& udp_replies);

  // Housekeeping steps.
  // Drops the node peers that are stale (node_peer.hpp) with their short ids.
  void remove_stale_peers_housekeeping();
  // Keeps one binding set per wanted address (the configured ones, else `interface_addrs`):
  // cancels and forgets bindings of addresses no longer wanted and cancelled ones, and binds
  // `udp_sockets` sockets for every wanted address without a binding. Returns the new bindings,
  // which need readers. A socket that cannot be bound is logged and skipped.
  UdpBindings udp_bindings_housekeeping(std::span<const net::InterfaceAddr> interface_addrs);
  void default_route_housekeeping();
  // Refreshes the state of every live send handle and forgets the dropped ones.
  void send_handles_housekeeping();
  // Refreshes the state of the send handle of `recipient`, if one lives, when what it was made
  // from has changed between housekeeping passes.
  void refresh_send_handle(const PubKey& recipient, std::uint64_t now);

  // The send handle of `recipient`, the existing one while it lives. Refused for the node
  // itself, for a super peer, and for a key without a usable shared secret.
  boost::system::result<std::shared_ptr<SendHandle>, error::Error> send_handle(const PubKey& recipient);
  // Detaches every send handle from the node (the node has stopped).
  void close_send_handles();

 private:
  struct RelayRoute {
    std::vector<UdpTarget> targets;
    std::shared_ptr<peer::LinkWriter> tcp;
  };

  std::optional<PubKey> relaying_super_peer(const net::SocketAddr& source,
                                            const std::optional<PubKey>& arrival_link) const;
  RelayRoute relay_route(std::uint64_t now) const;
  SendHandleState send_state_for(const SendHandle& handle, const RelayRoute& relay, std::uint64_t now) const;
  // A HELLO to `peer` over `path`, which records it as sent.
  boost::system::result<std::vector<std::uint8_t>, error::Error> hello_over(peer::NodePeer& peer,
                                                                            peer::PeerPath& path) const;
  std::uint16_t bind_port(std::uint16_t bound);
  bool is_full() const { return opts_.max_peers != 0 && peers_.size() >= opts_.max_peers; }
  std::uint64_t stranger_limit() const;
  // Whether `sender` may be stored now; refused with PeersListCapacityExceeded. A member always
  // may: with `evict`, a full table then first loses a stranger.
  boost::system::result<void, error::Error> make_room_for(const PubKey& sender, bool evict);
  void evict_a_stranger();
  void recount_strangers();

  boost::system::result<std::optional<crypto::SessionKeys>, error::Error> session_keys_with(
      const PubKey& sender, const boost::asio::ip::address& source);

  const NodeOpts opts_;
  const message::NetworkId network_id_;
  const std::optional<peer::AgreementKeys> agreement_keys_;
  const util::CancellationToken token_;
  const boost::asio::any_io_executor executor_;
  const Clock clock_;
  const Clock wall_clock_;
  std::atomic<std::uint64_t> cached_time_;
  peer::PeersList peers_;
  std::vector<std::shared_ptr<peer::SuperPeer>> super_peers_;
  concurrent::AtomicSnapshot<UdpBindings> bindings_;
  std::atomic<std::uint16_t> port_;
  concurrent::SnapshotMap<PubKey, std::weak_ptr<SendHandle>> send_handles_;
  std::optional<peer::AgreementCache> agreements_;  // present exactly when messages are armed
  net::SourceRateLimiter agreement_limiter_;
  net::RateBudget agreement_budget_;
  peer::HelloReplayWindow hello_times_;
  concurrent::AtomicSharedPtr<const MemberKeys> members_;  // none until set
  std::atomic<std::size_t> strangers_{0};                  // stored strangers; recounted every housekeeping pass
};

}  // namespace valdori::p2p::node
