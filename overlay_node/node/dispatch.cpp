#include "overlay_node/node/dispatch.hpp"

#include <algorithm>
#include <utility>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "overlay_node/node/link_writer.hpp"
#include "p2p_core/message/app_message.hpp"
#include "p2p_core/message/control_messages.hpp"
#include "p2p_core/message/layout.hpp"
#include "p2p_core/message/long_header.hpp"
#include "p2p_core/message/short_header.hpp"
#include "p2p_core/peer/peer.hpp"
#include "util/log/log.hpp"

namespace valdori::node {
namespace {

namespace asio = boost::asio;
namespace error = p2p::node::error;
namespace message = p2p::message;
using p2p::node::NodeInner;
using DispatchResult = boost::system::result<Replies, error::Error>;

spdlog::logger& lg() { return log::module_logger<"valdori_p2p::node::dispatch">(); }

std::optional<p2p::PubKey> short_id_owner(const NodeInner& node, std::span<const std::uint8_t> bytes) {
  if (bytes.size() < message::kShortIdLen) return std::nullopt;
  message::ShortId id;
  std::copy_n(bytes.begin(), message::kShortIdLen, id.bytes.begin());
  return node.peers().find_by_short_id(id);
}

DispatchResult on_short_header(NodeInner& node, std::span<std::uint8_t> bytes, const p2p::PubKey& sender) {
  const auto peer = node.peers().find_node_peer(sender);
  if (!peer) {
    VLOG_WARN_LIMITED(lg(), "Drop package with short header we no longer can match to a peer");
    return error::ShortIdOutdated{};
  }
  const auto payload = message::ShortHeader::parse(bytes, peer->rx_key());
  if (!payload) return error::MessageError{payload.error()};
  peer->app_rx(node.cached_time());
  node.add_to_recv_buf(sender, *payload);
  return Replies{};
}

// The node peer a message is from: the stored entry, or a stranger's candidate, which is stored
// only once its message has authenticated, so that senders who never do take no place.
struct Sender {
  std::shared_ptr<p2p::peer::NodePeer> peer;
  bool stored;
};

boost::system::result<void, error::Error> store(NodeInner& node, Sender& sender) {
  if (sender.stored) return {};
  auto stored = node.store_node_peer(sender.peer);
  if (!stored) return stored.error();
  sender = {std::move(*stored), true};
  return {};
}

DispatchResult on_node_peer_message(NodeInner& node, const message::ParsedLongHeader& parsed, Sender sender,
                                    const p2p::net::SocketAddr& source, const p2p::node::UdpBinding* binding,
                                    const std::optional<p2p::PubKey>& arrival_link) {
  const auto& header = parsed.header;
  const auto type = header.message_type();
  Replies replies;
  if (type == message::MessageType::ACK) {
    const auto ack = message::AckMessage::parse(parsed.body, header, sender.peer->rx_key());
    if (!ack) return error::MessageError{ack.error()};
    if (auto stored = store(node, sender); !stored) return stored.error();
    const auto handled =
        node.on_node_peer_ack(source, binding, header, *sender.peer, *ack, arrival_link, node.current_time());
    if (!handled) return handled.error();
  } else if (type == message::MessageType::APP) {
    const auto app = message::AppMessage::parse(parsed.body, header, sender.peer->rx_key());
    if (!app) return error::MessageError{app.error()};
    if (auto stored = store(node, sender); !stored) return stored.error();
    node.on_app(*sender.peer, *app);
  } else if (type == message::MessageType::HELLO) {
    const auto hello = message::HelloNodePeerMessage::parse(parsed.body, header, sender.peer->rx_key());
    if (!hello) return error::MessageError{hello.error()};
    const std::uint64_t now = node.current_time();
    // A stranger is stored only for a fresh HELLO.
    if (auto taken = node.take_hello_time(sender.peer->key(), hello->time(), node.wall_time()); !taken)
      return taken.error();
    if (auto stored = store(node, sender); !stored) return stored.error();
    const auto handled = node.on_node_peer_hello(source, binding, header, *sender.peer, *hello, arrival_link, now,
                                                 replies.udp, replies.tcp);
    if (!handled) return handled.error();
  } else if (type == message::MessageType::UNITE) {
    return error::MessageTypeUnexpected{type};
  } else {
    return error::MessageTypeInvalid{};
  }
  return replies;
}

DispatchResult on_super_peer_message(NodeInner& node, const message::ParsedLongHeader& parsed,
                                     p2p::peer::SuperPeer& super_peer, const p2p::net::SocketAddr& source,
                                     const p2p::node::UdpBinding* binding) {
  const auto& header = parsed.header;
  const auto type = header.message_type();
  Replies replies;
  if (type == message::MessageType::ACK) {
    const auto ack = message::AckMessage::parse(parsed.body, header, super_peer.rx_key());
    if (!ack) return error::MessageError{ack.error()};
    node.on_super_peer_ack(source, binding, super_peer, *ack);
  } else if (type == message::MessageType::APP || type == message::MessageType::HELLO) {
    return error::MessageTypeUnexpected{type};
  } else if (type == message::MessageType::UNITE) {
    if (!node.opts().process_unites) {
      VLOG_TRACE(lg(), "Ignoring unite message");
      return replies;
    }
    const auto unite = message::UniteMessage::parse(parsed.body, header, super_peer.rx_key());
    if (!unite) return error::MessageError{unite.error()};
    const auto handled = node.on_unite(*unite, replies.udp);
    if (!handled) return handled.error();
  } else {
    return error::MessageTypeInvalid{};
  }
  return replies;
}

}  // namespace

DispatchResult on_packet(NodeInner& node, std::span<std::uint8_t> bytes, const p2p::net::SocketAddr& source,
                         const p2p::node::UdpBinding* binding, const std::optional<p2p::PubKey>& arrival_link) {
  if (const auto sender = short_id_owner(node, bytes)) return on_short_header(node, bytes, *sender);

  const auto parsed = message::LongHeader::parse(bytes);
  if (!parsed) return error::MessageError{parsed.error()};
  const auto& header = parsed->header;
  if (header.network_id() != node.network_id()) return error::NetworkIdInvalid{header.network_id()};
  if (header.recipient() != node.pk()) return error::MessageInvalidRecipient{};

  const auto entry = node.peers().find(header.sender());
  if (!entry) {
    // A stranger: the peer limit, the proof of work and key agreement are checked first.
    auto candidate = node.node_peer_candidate(header, source.address());
    if (!candidate) return candidate.error();
    return on_node_peer_message(node, *parsed, {std::move(*candidate), false}, source, binding, arrival_link);
  }
  if (const auto super_peer = p2p::peer::as_super_peer(*entry))
    return on_super_peer_message(node, *parsed, *super_peer, source, binding);
  auto node_peer = p2p::peer::as_node_peer(*entry);
  if (!node_peer->validate_pow(header.pow(), node.opts().min_pow_difficulty)) return error::PowInvalid{};
  return on_node_peer_message(node, *parsed, {std::move(node_peer), true}, source, binding, arrival_link);
}

asio::awaitable<void> send_replies(NodeInner& node, Replies replies) {
  for (const auto& reply : replies.udp) {
    const auto [ec, sent] = co_await reply.socket->async_send_to(asio::buffer(reply.message), reply.destination,
                                                                 asio::as_tuple(asio::use_awaitable));
    if (ec) {
      VLOG_DEBUG(lg(), "Failed to send msg to udp://{}: {}", reply.destination, ec.message());
    } else {
      VLOG_TRACE(lg(), "Sent msg to udp://{}.", reply.destination);
    }
  }
  for (auto& reply : replies.tcp) {
    co_await send_super_peer_tcp(node, std::move(reply.message), reply.writer, reply.super_peer);
    VLOG_TRACE(lg(), "Sent msg to {} via TCP", reply.super_peer);
  }
}

}  // namespace valdori::node
