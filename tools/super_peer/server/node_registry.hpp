// The nodes a super peer serves, keyed by public key: what each node's last HELLO said and
// where the node can be reached. A node is recorded only once its HELLO has authenticated.
// What guards against replayed HELLOs is kept apart (the dispatcher's replay window), so that
// forgetting a node here never lets an old HELLO of it through.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "p2p_core/crypto/session_keys.hpp"
#include "p2p_core/identity/keys.hpp"
#include "p2p_core/net/socket_addr.hpp"
#include "p2p_core/node/clock.hpp"
#include "tools/super_peer/server/route.hpp"
#include "util/container/lru_map.hpp"

namespace valdori::super_peer {

class TcpLink;

// The super peer's times, its rate limits included: a suspend counts, a step of the wall clock not.
using Clock = p2p::node::IntervalClock;

struct ObservedSource {
  p2p::net::SocketAddr addr;
  Clock::time_point last_heard;
  // The time of the last HELLO taken from it.
  std::uint64_t hello_time = 0;
};

struct RegisteredNode {
  // A node greets every few seconds (5 by default) from each of its sources and over its link;
  // one silent for this long has stopped answering.
  static constexpr Clock::duration kSourceSilence = std::chrono::seconds(20);

  p2p::Pow pow;
  // Derived once from the node's key, on its first armed message.
  std::optional<p2p::crypto::SessionKeys> session_keys;
  // Whether the node armed its last HELLO: messages to it are armed alike.
  bool arms_messages = false;
  // UDP sources its HELLOs came from, in the order they first authenticated.
  std::vector<ObservedSource> observed;
  // The endpoint candidates of its last HELLO.
  std::vector<p2p::net::SocketAddr> candidates;
  // The TCP link its HELLOs come through, when one last did and that HELLO's time. Another link
  // takes over only with a HELLO newer than the last that each path of the node carried within
  // kSourceSilence (this link, even closed, and each source): a HELLO the super peer had not
  // taken, replayed over another link, is older than those the node's own paths carry.
  std::weak_ptr<TcpLink> link;
  Clock::time_point link_heard;
  std::uint64_t link_hello_time = 0;
  Clock::time_point last_seen;

  // Where another node may try to reach this one: the observed sources, then the candidates.
  std::vector<p2p::net::SocketAddr> endpoints() const;
  // Where messages for the node go: its link while it answers, else the first source still
  // answering, else its link while open, else the source heard last. None before any HELLO.
  std::optional<Route> route(Clock::time_point now) const;
  // A source or link a HELLO of `hello_time` authenticated from. A new source is kept while
  // there is room, or in place of one that has stopped answering.
  void observe_udp_source(const p2p::net::SocketAddr& source, std::uint64_t hello_time, Clock::time_point now);
  void observe_link(const std::shared_ptr<TcpLink>& arrival, std::uint64_t hello_time, Clock::time_point now);
};

// At most `capacity` nodes, which bounds the memory senders of valid HELLOs can take. A node
// that greeted within `live_for` is live and never forgotten to make room: a registry full of
// live nodes takes no newcomer until one of them falls silent.
class NodeRegistry {
 public:
  // A node has one UDP source per local address it sends from; a few cover every real case.
  static constexpr std::size_t kMaxObserved = 4;

  NodeRegistry(std::size_t capacity, Clock::duration live_for);

  // The node's record; looking it up is no sign of life.
  RegisteredNode* find(const p2p::PubKey& pk) { return nodes_.peek(pk); }
  // Whether a node not registered yet can be, now.
  bool has_room(Clock::time_point now) const;
  // The record of a node that has greeted at `now`, created when missing; a full registry first
  // forgets the node heard from least recently (call has_room first).
  RegisteredNode& record(const p2p::PubKey& pk, Clock::time_point now);

 private:
  util::LruMap<p2p::PubKey, RegisteredNode> nodes_;  // heard from least recently first
  Clock::duration live_for_;
};

}  // namespace valdori::super_peer
