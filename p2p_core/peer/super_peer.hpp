// A super peer: a configured relay and rendezvous point of the network. Its UDP paths pair each
// of the node's bindings with each address its host name resolved to; a TCP link to it is the
// fallback when UDP does not get through.
//
// Super-peer rules (times in node-clock milliseconds; path rules in peer_path.hpp):
// - Reachable: some UDP path is reachable, or a TCP link is published and reachable.
// - Best UDP path: the first of the ranking, reachable or not, so that a HELLO always has a way
//   to try.
// - Invalid UDP path: its remote address is no longer among the resolved addresses and it is
//   not reachable. Paths to resolved addresses stay however long they go unanswered: they are
//   all the node has, and the TCP decision below watches them.
// - Opening a TCP link: only when no link record exists (one attempt at a time; the record goes
//   when its attempt ends), and then when TCP is enforced, or when UDP has failed: no UDP path
//   is reachable and none is still waiting within the HELLO timeout for the answer to a HELLO
//   (or to its first one). With no UDP path at all UDP has failed at once.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "p2p_core/concurrent/atomic_shared_ptr.hpp"
#include "p2p_core/crypto/session_keys.hpp"
#include "p2p_core/identity/keys.hpp"
#include "p2p_core/identity/super_peer_url.hpp"
#include "p2p_core/net/socket_addr.hpp"
#include "p2p_core/node/udp_binding.hpp"
#include "p2p_core/peer/hello_times.hpp"
#include "p2p_core/peer/peer_path.hpp"
#include "p2p_core/peer/tcp_connection.hpp"
#include "util/runtime/cancellation_token.hpp"

namespace valdori::p2p::peer {

using ResolvedAddrs = std::vector<net::SocketAddr>;

class SuperPeer {
 public:
  SuperPeer(const SuperPeerUrl& url, std::optional<crypto::SessionKeys> session_keys,
            std::optional<ResolvedAddrs> resolved_addrs);

  const PubKey& key() const { return key_; }
  // The configured "host:port" text, as the host lookup takes it.
  const std::string& addr() const { return addr_; }
  std::uint16_t tcp_port() const { return tcp_port_; }
  // "host:tcp_port", where the TCP link connects to.
  const std::string& tcp_addr() const { return tcp_addr_; }
  std::optional<crypto::SessionKey> rx_key() const;
  std::optional<crypto::SessionKey> tx_key() const;

  // None while the host name has never resolved.
  std::shared_ptr<const ResolvedAddrs> resolved_addrs() const { return resolved_addrs_.load(); }
  void update_resolved_addrs(ResolvedAddrs addrs);

  const PathMap& udp_paths() const { return udp_paths_; }
  PathMap& udp_paths() { return udp_paths_; }
  // Adds a path from every binding to every resolved address it can reach; existing paths keep
  // their record.
  void add_paths_for_resolved_addrs(const node::UdpBindings& bindings);
  std::vector<PeerPathKey> remove_invalid_udp_paths(std::uint64_t now, std::uint64_t hello_timeout);
  std::vector<RankedPath> ranked_udp_paths(std::uint64_t now, std::uint64_t hello_timeout) const;
  std::optional<RankedPath> best_udp_path(std::uint64_t now, std::uint64_t hello_timeout) const;
  std::optional<PeerPathKey> best_udp_path_key(std::uint64_t now, std::uint64_t hello_timeout) const;
  bool is_udp_reachable(std::uint64_t now, std::uint64_t hello_timeout) const;
  bool is_reachable(std::uint64_t now, std::uint64_t hello_timeout) const;
  // Whether a UDP path of this super peer leads to `remote`.
  bool has_udp_path_to(const net::SocketAddr& remote) const;

  // The times of the HELLOs this node sends the super peer, over every path and the link.
  HelloClock& hello_clock() { return hello_clock_; }
  const HelloClock& hello_clock() const { return hello_clock_; }

  // The current link record; none while no attempt is under way.
  std::shared_ptr<TcpConnection> tcp_connection() const { return tcp_connection_.load(); }
  // The published writer of the current link, if any.
  std::shared_ptr<LinkWriter> tcp_stream() const;
  bool establish_tcp_connection(std::uint64_t now, std::uint64_t hello_timeout, bool enforce_tcp) const;
  // A new link record with a child token of `node_token`, made the current one.
  std::shared_ptr<TcpConnection> new_tcp_path(const util::CancellationToken& node_token);
  // Forgets `record` if it is still the current one (its attempt has ended).
  void release_tcp_path(const std::shared_ptr<TcpConnection>& record);

 private:
  const PubKey key_;
  const std::string addr_;
  const std::uint16_t tcp_port_;
  const std::string tcp_addr_;
  const std::optional<crypto::SessionKeys> session_keys_;
  concurrent::AtomicSharedPtr<const ResolvedAddrs> resolved_addrs_;
  PathMap udp_paths_;
  HelloClock hello_clock_;
  concurrent::AtomicSharedPtr<TcpConnection> tcp_connection_;
};

}  // namespace valdori::p2p::peer
