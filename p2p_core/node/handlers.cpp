// The message handlers of NodeInner: what a received HELLO, ACK, APP or UNITE changes in the
// tables, and the replies it queues.
#include <algorithm>

#include "p2p_core/node/logger.hpp"
#include "p2p_core/node/node_inner.hpp"
#include "p2p_core/peer/path_pairing.hpp"

namespace valdori::p2p::node {
namespace {

std::shared_ptr<peer::PeerPath> new_path() { return std::make_shared<peer::PeerPath>(); }

bool is_relayed(const UdpBinding* binding, const message::LongHeader& header, const std::optional<PubKey>& relay) {
  return binding == nullptr || header.hop_count() > 0 || relay.has_value();
}

}  // namespace

std::optional<PubKey> NodeInner::relaying_super_peer(const net::SocketAddr& source,
                                                     const std::optional<PubKey>& arrival_link) const {
  if (arrival_link) return arrival_link;
  const auto found = std::ranges::find_if(super_peers_, [&](const auto& sp) { return sp->has_udp_path_to(source); });
  if (found == super_peers_.end()) return std::nullopt;
  return (*found)->key();
}

void NodeInner::on_app(peer::NodePeer& peer, const message::AppMessage& app) {
  peer.app_rx(cached_time());
  add_to_recv_buf(peer.key(), app.payload());
}

boost::system::result<void, error::Error> NodeInner::take_hello_time(const PubKey& sender, std::uint64_t time,
                                                                     std::uint64_t now) {
  // A sender that may not be stored takes no room among the kept times either.
  if (!peers_.find_node_peer(sender)) {
    if (auto room = make_room_for(sender, false); !room) return room.error();
  }
  const auto verdict = hello_times_.accept(sender, time, now, current_time(), opts_.hello_max_age);
  if (verdict == peer::HelloVerdict::TooOld || verdict == peer::HelloVerdict::InFuture) {
    // Only a clock set wrong here or there keeps a node peer's HELLOs this far off; the node
    // whose clock is wrong learns it from this line, whichever of the two it is.
    VLOG_WARN_LIMITED(node_logger(),
                      "HELLO from node peer {} is {} s {} this node's clock (at most {} s taken): check the clocks",
                      sender, (time < now ? now - time : time - now) / 1000, time < now ? "behind" : "ahead of",
                      opts_.hello_max_age / 1000);
  }
  switch (verdict) {
    case peer::HelloVerdict::TooOld: return error::HelloTooOld{now - time};
    case peer::HelloVerdict::InFuture: return error::HelloTimeIsInFuture{};
    case peer::HelloVerdict::Replayed: return error::HelloReplayed{};
    case peer::HelloVerdict::Busy: return error::HelloSendersFull{};
    case peer::HelloVerdict::Fresh: break;
  }
  return {};
}

boost::system::result<void, error::Error> NodeInner::on_node_peer_hello(
    const net::SocketAddr& source, const UdpBinding* binding, const message::LongHeader& header, peer::NodePeer& peer,
    const message::HelloNodePeerMessage& hello, const std::optional<PubKey>& arrival_link, std::uint64_t now,
    UdpTransmits& udp_replies, TcpTransmits& tcp_replies) {
  peer.heard(now);
  const auto known_short_id = peer.tx_short_id();
  peer.set_tx_short_id(hello.short_id());
  const auto relay = relaying_super_peer(source, arrival_link);
  std::shared_ptr<peer::PeerPath> new_direct_path;
  if (!is_relayed(binding, header, relay)) {
    if (auto [path, added] = peer.add_path({binding->local_addr(), source}); added) new_direct_path = std::move(path);
  }

  auto ack = message::AckMessage::build(network_id_, pk(), pow(), peer.tx_key(), peer.key(), hello.time());
  if (!ack) return error::MessageError{ack.error()};
  if (arrival_link) {
    const auto super_peer = peers_.find_super_peer(*arrival_link);
    auto writer = super_peer ? super_peer->tcp_stream() : nullptr;
    if (!writer) {
      VLOG_DEBUG(node_logger(), "No TCP link to super peer {} left to answer a HELLO", *arrival_link);
      return {};
    }
    tcp_replies.push_back({std::move(*ack), std::move(writer), *arrival_link});
  } else if (binding != nullptr) {
    udp_replies.push_back({std::move(*ack), source, binding->socket()});
  }
  // A path the peer opened is greeted back at once: it carries this node's traffic as soon as
  // the peer answers, not only after the next housekeeping pass has greeted it.
  if (new_direct_path) {
    auto greeting = hello_over(peer, *new_direct_path);
    if (!greeting) return greeting.error();
    udp_replies.push_back({std::move(*greeting), source, binding->socket()});
  }
  if (peer.tx_short_id() != known_short_id) refresh_send_handle(peer.key(), now);
  return {};
}

boost::system::result<void, error::Error> NodeInner::on_node_peer_ack(
    const net::SocketAddr& source, const UdpBinding* binding, const message::LongHeader& header, peer::NodePeer& peer,
    const message::AckMessage& ack, const std::optional<PubKey>& arrival_link, std::uint64_t now) {
  const std::uint64_t wall_now = wall_time();
  if (peer.hello_clock().is_in_future(ack.time(), wall_now)) return error::AckTimeIsInFuture{};
  const std::uint64_t age = elapsed_ms(wall_now, ack.time());
  if (age > opts_.hello_max_age) return error::AckTooOld{age};
  peer.heard(now);
  const auto relay = relaying_super_peer(source, arrival_link);
  std::shared_ptr<peer::PeerPath> path;
  const bool direct = !is_relayed(binding, header, relay);
  if (direct) {
    path = peer.paths().find({binding->local_addr(), source}).value_or(nullptr);
  } else if (relay) {
    path = *peer.relay_paths().get_or_insert(*relay, new_path).first;
  }
  if (!path) return {};
  const bool was_reachable = direct && peer.is_reachable(now, opts_.hello_timeout);
  path->ack_rx(current_time_us(), ack.time(), source);
  // Sends to the peer take the direct path from its first answer on, rather than going through
  // the super peer until the next housekeeping pass.
  if (direct && !was_reachable) refresh_send_handle(peer.key(), now);
  return {};
}

void NodeInner::on_super_peer_ack(const net::SocketAddr& source, const UdpBinding* binding, peer::SuperPeer& super_peer,
                                  const message::AckMessage& ack) {
  const std::uint64_t wall_now = wall_time();
  if (super_peer.hello_clock().is_in_future(ack.time(), wall_now) ||
      elapsed_ms(wall_now, ack.time()) > opts_.hello_max_age) {
    VLOG_TRACE(node_logger(), "Ignoring outdated ACK from super peer {}", super_peer.key());
    return;
  }
  std::shared_ptr<peer::PeerPath> path;
  if (binding != nullptr) {
    path = super_peer.udp_paths().find({binding->local_addr(), source}).value_or(nullptr);
  } else if (const auto link = super_peer.tcp_connection()) {
    path = std::shared_ptr<peer::PeerPath>(link, &link->path());
  }
  if (!path) {
    VLOG_TRACE(node_logger(), "Ignoring ACK from super peer {} on no known path", super_peer.key());
    return;
  }
  path->ack_rx(current_time_us(), ack.time(), source);
}

boost::system::result<void, error::Error> NodeInner::on_unite(const message::UniteMessage& unite,
                                                              UdpTransmits& udp_replies) {
  const auto peer = peers_.find_node_peer(unite.peer());
  if (!peer) {
    VLOG_TRACE(node_logger(), "Ignoring UNITE for peer {} that is not a known node peer", unite.peer());
    return {};
  }
  const std::vector<net::SocketAddr> endpoints(unite.endpoints().begin(), unite.endpoints().end());
  for (const auto& key : peer::path_keys_for(*udp_bindings(), endpoints)) {
    const auto [path, added] = peer->add_path(key);
    if (!added) continue;
    auto socket = udp_socket_for(key.local);
    if (!socket) continue;
    auto hello = hello_over(*peer, *path);
    if (!hello) return hello.error();
    udp_replies.push_back({std::move(*hello), key.remote, std::move(socket)});
  }
  return {};
}

boost::system::result<std::vector<std::uint8_t>, error::Error> NodeInner::hello_over(peer::NodePeer& peer,
                                                                                     peer::PeerPath& path) const {
  const std::uint64_t hello_time = peer.hello_clock().next(wall_time());
  auto hello = message::HelloNodePeerMessage::build(network_id_, pk(), pow(), peer.tx_key(), peer.key(), hello_time,
                                                    peer.rx_short_id());
  if (!hello) return error::MessageError{hello.error()};
  path.hello_tx(hello_time, current_time_us());
  return std::move(*hello);
}

}  // namespace valdori::p2p::node
