#include "overlay_node/peer/super_peer_housekeeping.hpp"

#include <algorithm>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "overlay_node/node/link_writer.hpp"
#include "overlay_node/node/span_log.hpp"
#include "overlay_node/node/tcp.hpp"
#include "overlay_node/util/lookup_host.hpp"
#include "p2p_core/message/control_messages.hpp"
#include "p2p_core/node/guards.hpp"
#include "p2p_core/peer/path_pairing.hpp"

namespace valdori::peer {
namespace {

namespace asio = boost::asio;
using log::Level;
using node::SpanLog;
using p2p::node::NodeInner;
using p2p::peer::SuperPeer;
using Result = boost::system::result<void, p2p::node::error::Error>;

spdlog::logger& lg() { return log::module_logger<"valdori_p2p::peer::super_peer">(); }

void open_tcp_if_needed(const std::shared_ptr<NodeInner>& node, SuperPeer& super_peer, std::uint64_t now,
                        const SpanLog& span) {
  const auto& opts = node->opts();
  if (!super_peer.establish_tcp_connection(now, opts.hello_timeout, opts.enforce_tcp)) {
    span.log(Level::trace, "No TCP connection establishment condition met (it might exist already)");
    return;
  }
  span.log(Level::trace, "Establish TCP connection");
  auto link = super_peer.new_tcp_path(node->token());
  p2p::node::TcpPathGuard guard(node, super_peer.key(), link);
  valdori::node::spawn_tcp_connector(super_peer.tcp_addr(), std::move(link), std::move(guard), super_peer.tx_key());
}

void close_tcp_if_udp_answers(const NodeInner& node, const SuperPeer& super_peer, std::uint64_t greeted_at,
                              const SpanLog& span) {
  const auto& opts = node.opts();
  const auto link = super_peer.tcp_connection();
  if (opts.enforce_tcp || !link) return;
  const auto paths = super_peer.udp_paths().snapshot();
  const bool udp_answers = std::ranges::any_of(
      *paths, [&](const auto& entry) { return entry.second->is_reachable(greeted_at, opts.hello_timeout); });
  if (udp_answers) {
    span.log(Level::trace, "TCP connection not longer required as a reachable UDP path has become available.");
    link->cancel_connection();
  } else {
    span.log(Level::trace, "TCP connection still required as no reachable UDP path has become available.");
  }
}

asio::awaitable<void> refresh_paths(const NodeInner& node, SuperPeer& super_peer, const SpanLog& span) {
  auto resolved = co_await lookup_host(super_peer.addr());
  if (resolved) {
    super_peer.update_resolved_addrs(std::move(*resolved));
  } else {
    span.log(Level::warn, "Failed to update resolved super peer addresses for super peer {}: {}", super_peer.addr(),
             p2p::peer::error::display(resolved.error()));
  }
  super_peer.add_paths_for_resolved_addrs(*node.udp_bindings());
}

// One HELLO per path and one for the link, each with a time of its own (hello_times.hpp).
boost::system::result<std::vector<std::uint8_t>, p2p::message::error::Error> build_hello(
    const NodeInner& node, const SuperPeer& super_peer, std::uint64_t time,
    const std::vector<std::uint8_t>& candidates) {
  return p2p::message::HelloSuperPeerMessage::build(node.network_id(), node.pk(), node.pow(), super_peer.tx_key(),
                                                    super_peer.key(), time, candidates);
}

asio::awaitable<Result> hello_over_udp(NodeInner& node, SuperPeer& super_peer,
                                       const std::vector<std::uint8_t>& candidates, const SpanLog& span) {
  span.log(Level::trace, "Try to reach super peer via UDP");
  const auto paths = super_peer.udp_paths().snapshot();
  for (const auto& [key, path] : *paths) {
    const log::Fields path_field{{"path", key.to_string()}};
    span.log_with(Level::trace, path_field, "Send via path");
    const auto socket = node.udp_socket_for(key.local);
    if (!socket) {
      span.log_with(Level::warn, path_field, "No UDP socket found");
      continue;
    }
    const std::uint64_t time = super_peer.hello_clock().next(node.wall_time());
    auto hello = build_hello(node, super_peer, time, candidates);
    if (!hello) co_return p2p::node::error::MessageError{hello.error()};
    path->hello_tx(time, node.current_time_us());
    const auto [ec, sent] =
        co_await socket->async_send_to(asio::buffer(*hello), key.remote, asio::as_tuple(asio::use_awaitable));
    if (ec) {
      span.log_with(Level::trace, path_field, "UDP send error: {}", ec.message());
    } else {
      span.log_with(Level::trace, path_field, "UDP send successful");
    }
  }
  co_return boost::system::in_place_value;
}

}  // namespace

asio::awaitable<boost::system::result<void, p2p::node::error::Error>> super_peer_housekeeping(
    std::shared_ptr<NodeInner> node, std::shared_ptr<SuperPeer> super_peer, std::uint64_t now,
    const std::vector<std::uint8_t>& endpoint_candidates, const SpanLog* pass) {
  const SpanLog span(lg(), "super_peer_housekeeping", "peer", super_peer->key().to_string(), pass);
  const auto& opts = node->opts();
  open_tcp_if_needed(node, *super_peer, now, span);

  const std::uint64_t greeted_at = node->current_time();
  p2p::peer::remove_paths_without_binding(super_peer->udp_paths(), *node->udp_bindings());
  super_peer->remove_invalid_udp_paths(greeted_at, opts.hello_timeout);
  close_tcp_if_udp_answers(*node, *super_peer, greeted_at, span);
  co_await refresh_paths(*node, *super_peer, span);

  span.log(Level::trace, "Send HELLO to super peer");
  if (auto sent = co_await hello_over_udp(*node, *super_peer, endpoint_candidates, span); !sent) co_return sent;

  const auto link = super_peer->tcp_connection();
  if (auto writer = link ? link->stream() : nullptr) {
    span.log(Level::trace, "TCP path present. Send HELLO via TCP");
    const std::uint64_t time = super_peer->hello_clock().next(node->wall_time());
    auto hello = build_hello(*node, *super_peer, time, endpoint_candidates);
    if (!hello) co_return p2p::node::error::MessageError{hello.error()};
    link->hello_tx(time, node->current_time_us());
    co_await valdori::node::send_super_peer_tcp(*node, std::move(*hello), std::move(writer), super_peer->key());
  } else {
    span.log(Level::trace, "No TCP path present. Do not send HELLO via TCP");
  }
  co_return boost::system::in_place_value;
}

}  // namespace valdori::peer
