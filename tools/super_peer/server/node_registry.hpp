// The nodes a super peer serves, keyed by public key: what each node's last HELLO said and
// where the node can be reached.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "p2p_core/crypto/session_keys.hpp"
#include "p2p_core/identity/keys.hpp"
#include "p2p_core/net/socket_addr.hpp"

namespace valdori::super_peer {

class TcpLink;

using Clock = std::chrono::steady_clock;

struct RegisteredNode {
  p2p::Pow pow;
  // Derived once from the node's key, on its first armed message.
  std::optional<p2p::crypto::SessionKeys> session_keys;
  // Whether the node armed its last HELLO: messages to it are armed alike.
  bool arms_messages = false;
  // UDP sources its HELLOs came from, most recent first.
  std::vector<p2p::net::SocketAddr> observed;
  // The endpoint candidates of its last HELLO.
  std::vector<p2p::net::SocketAddr> candidates;
  // The TCP link its last HELLO over TCP came through.
  std::weak_ptr<TcpLink> link;
  Clock::time_point last_seen;

  // Where another node may try to reach this one: the observed sources, then the candidates.
  std::vector<p2p::net::SocketAddr> endpoints() const;
  void observe_udp_source(const p2p::net::SocketAddr& source);
};

class NodeRegistry {
 public:
  // Bounds the memory that senders of valid HELLOs can take.
  static constexpr std::size_t kCapacity = 4096;
  // A node has one UDP source per local address it sends from; a few cover every real case.
  static constexpr std::size_t kMaxObserved = 4;

  RegisteredNode* find(const p2p::PubKey& pk);
  // The node's record, created when missing; a full registry first forgets the node heard from
  // least recently.
  RegisteredNode& record(const p2p::PubKey& pk, Clock::time_point now);

 private:
  std::unordered_map<p2p::PubKey, RegisteredNode> nodes_;
};

}  // namespace valdori::super_peer
