#include "overlay_node/peer/node_peer_housekeeping.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "overlay_node/node/link_writer.hpp"
#include "overlay_node/node/span_log.hpp"
#include "p2p_core/message/control_messages.hpp"
#include "p2p_core/peer/path_pairing.hpp"

namespace valdori::peer {
namespace {

namespace asio = boost::asio;
using log::Level;
using node::SpanLog;
using p2p::node::NodeInner;
using p2p::peer::NodePeer;
using Result = boost::system::result<void, p2p::node::error::Error>;
using Hello = boost::system::result<std::vector<std::uint8_t>, p2p::message::error::Error>;

spdlog::logger& lg() { return log::module_logger<"valdori_p2p::peer::node_peer">(); }

// Built anew for every path: the short id is read afresh each time, and each HELLO carries a time
// of its own (hello_times.hpp), which the path records as sent.
Hello build_hello(const NodeInner& node, NodePeer& peer, p2p::peer::PeerPath& path) {
  const std::uint64_t time = peer.hello_clock().next(node.wall_time());
  path.hello_tx(time, node.current_time_us());
  return p2p::message::HelloNodePeerMessage::build(node.network_id(), node.pk(), node.pow(), peer.tx_key(), peer.key(),
                                                   time, peer.rx_short_id());
}

void drop_paths_without_binding(const NodeInner& node, NodePeer& peer, const SpanLog& span) {
  for (const auto& key : p2p::peer::remove_paths_without_binding(peer.paths(), *node.udp_bindings()))
    span.log_with(Level::trace, {{"path", key.to_string()}}, "Remove UDP path without corresponding binding");
}

asio::awaitable<Result> hello_over_direct_paths(NodeInner& node, NodePeer& peer, std::uint64_t greeted_at,
                                                const SpanLog& span) {
  peer.remove_stale_paths(greeted_at, node.opts().hello_timeout);
  const auto paths = peer.paths().snapshot();
  for (const auto& [key, path] : *paths) {
    span.log(Level::trace, "Contact peer via endpoint to test reachability/maintain link: {}", key);
    auto hello = build_hello(node, peer, *path);
    if (!hello) co_return p2p::node::error::MessageError{hello.error()};
    const auto socket = node.udp_socket_for(key.local);
    if (!socket) {
      span.log(Level::warn, "No udp socket found for path {}", key);
      continue;
    }
    const auto [ec, sent] =
        co_await socket->async_send_to(asio::buffer(*hello), key.remote, asio::as_tuple(asio::use_awaitable));
    if (ec) {
      span.log(Level::warn, "Failed to send HELLO to node peer via {}: {}", key, ec.message());
    } else {
      span.log(Level::trace, "Sent HELLO to node peer via {}.", key);
    }
  }
  co_return boost::system::in_place_value;
}

// Every super peer relays a HELLO, reachable or not, so that the peer answers through whichever
// gets through; each keeps its relay path for the choice of the best relay. The node's own list
// of its super peers holds the same entries as the peers table, without a copy of the whole
// table for every peer of a pass.
asio::awaitable<Result> hello_through_super_peers(NodeInner& node, NodePeer& peer, std::uint64_t greeted_at,
                                                  const SpanLog& span) {
  for (const auto& super_peer : node.super_peers()) {
    const p2p::PubKey& key = super_peer->key();
    const auto relay = peer.relay_paths().get_or_insert(key, [] { return std::make_shared<p2p::peer::PeerPath>(); });
    auto hello = build_hello(node, peer, **relay.first);
    if (!hello) co_return p2p::node::error::MessageError{hello.error()};

    if (auto writer = super_peer->tcp_stream()) {
      co_await valdori::node::send_super_peer_tcp(node, std::move(*hello), std::move(writer), key);
      span.log(Level::trace, "Sent relayed HELLO to node peer via super peer TCP {}", key);
      continue;
    }
    span.log(Level::trace, "No TCP connection/stream available to super peer {}", key);
    const auto best = super_peer->best_udp_path(greeted_at, node.opts().hello_timeout);
    if (!best) {
      span.log(Level::warn, "No UDP path available to super peer {}", key);
      continue;
    }
    const auto& path_key = best->first;
    const auto socket = node.udp_socket_for(path_key.local);
    if (!socket) {
      span.log(Level::warn, "No UDP socket found for path local_addr={} for super peer {}", path_key.local, key);
      continue;
    }
    const auto [ec, sent] =
        co_await socket->async_send_to(asio::buffer(*hello), path_key.remote, asio::as_tuple(asio::use_awaitable));
    if (ec) {
      span.log(Level::warn, "Failed to send relayed HELLO via super peer {} UDP local_addr={}: {}", key, path_key.local,
               ec.message());
    } else {
      span.log(Level::trace, "Sent relayed HELLO to node peer via super peer {} UDP local_addr={}", key,
               path_key.local);
    }
  }
  co_return boost::system::in_place_value;
}

// Keeps paths alive only while application data flows; the relay is chosen either way.
asio::awaitable<Result> greet(NodeInner& node, NodePeer& peer, std::uint64_t now, const SpanLog& span) {
  const std::uint64_t hello_timeout = node.opts().hello_timeout;
  if (!peer.has_app_traffic(now, hello_timeout)) {
    span.log(Level::trace, "No app traffic");
    peer.clear_paths();
    peer.clear_app_tx_rx();
    co_return boost::system::in_place_value;
  }
  span.log(Level::trace, "We have app traffic");
  const std::uint64_t greeted_at = node.current_time();
  if (auto direct = co_await hello_over_direct_paths(node, peer, greeted_at, span); !direct) co_return direct;
  if (peer.is_reachable(greeted_at, hello_timeout)) {
    span.log(Level::trace, "Reachable direct paths available, cleared relay paths.");
    peer.relay_paths().clear();
    co_return boost::system::in_place_value;
  }
  span.log(Level::trace, "No reachable path to peer, attempting to establish relay path through super peers");
  co_return co_await hello_through_super_peers(node, peer, greeted_at, span);
}

}  // namespace

asio::awaitable<Result> node_peer_housekeeping(std::shared_ptr<NodeInner> node, std::shared_ptr<NodePeer> peer,
                                               std::uint64_t now, const SpanLog* pass) {
  const SpanLog span(lg(), "node_peer_housekeeping", "peer", peer->key().to_string(), pass);
  const p2p::PubKey default_route = node->peers().default_route();
  if (peer->rx_short_id() == p2p::message::ShortId{}) node->peers().assign_rx_short_id(*peer);
  drop_paths_without_binding(*node, *peer, span);

  if (auto greeted = co_await greet(*node, *peer, now, span); !greeted) co_return greeted;

  const std::uint64_t hello_timeout = node->opts().hello_timeout;
  peer->update_best_relay(now, hello_timeout, default_route);
  if (!peer->is_reachable(now, hello_timeout)) {
    span.log(Level::trace, "Node is not directly reachable.");
    if (peer->tx_short_id()) peer->set_tx_short_id(std::nullopt);
  }
  co_return boost::system::in_place_value;
}

}  // namespace valdori::peer
