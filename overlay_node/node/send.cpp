#include "overlay_node/node/send.hpp"

#include <utility>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "overlay_node/node/link_writer.hpp"
#include "p2p_core/message/app_message.hpp"
#include "p2p_core/message/short_header.hpp"
#include "p2p_core/node/node_inner.hpp"
#include "util/log/log.hpp"

namespace valdori::node {
namespace {

namespace asio = boost::asio;
namespace error = p2p::node::error;
using SendResult = boost::system::result<void, error::Error>;

spdlog::logger& lg() {
  static spdlog::logger& logger = log::logger("valdori_p2p::node::send_handle");
  return logger;
}

// The events of one send carry the recipient, as the fields of its span.
#define SEND_LOG(level, handle, ...) \
  VLOG_AT_FIELDS(lg(), level, (log::Fields{{"recipient", (handle).recipient().to_string()}}), __VA_ARGS__)
#define SEND_LOG_LIMITED(level, handle, ...) \
  VLOG_AT_FIELDS_LIMITED(lg(), level, (log::Fields{{"recipient", (handle).recipient().to_string()}}), __VA_ARGS__)

std::string local_addr_text(const p2p::node::UdpSocket& socket) {
  boost::system::error_code ec;
  const auto local = socket.local_endpoint(ec);
  return ec ? std::string("unknown") : p2p::net::to_string(local);
}

boost::system::result<std::vector<std::uint8_t>, p2p::message::error::Error> build_app(
    const p2p::node::NodeInner& node, const p2p::node::SendHandle& handle, const p2p::node::SendHandleState& state,
    std::span<const std::uint8_t> data) {
  // A short header is understood only on the direct path it was agreed for.
  if (state.best_direct_path && state.tx_short_id)
    return p2p::message::ShortHeader::build(*state.tx_short_id, state.tx_key, data);
  return p2p::message::AppMessage::build(node.network_id(), node.pk(), node.pow(), state.tx_key, handle.recipient(),
                                         data);
}

}  // namespace

asio::awaitable<SendResult> send(const p2p::node::SendHandle& handle, std::span<const std::uint8_t> data) {
  VLOG_AT_FIELDS(lg(), log::Level::trace,
                 (log::Fields{{"recipient", handle.recipient().to_string()}, {"len", std::to_string(data.size())}}),
                 "Send message");
  const auto node = handle.node();
  if (!node) co_return error::SendHandleClosed{};
  const auto state = handle.state();

  auto message = build_app(*node, handle, *state, data);
  if (!message) co_return error::MessageError{message.error()};
  if (message->size() > node->max_message_len())
    co_return error::AppLenInvalid{message->size(), node->max_message_len()};
  state->app_tx->store(node->cached_time(), std::memory_order_release);

  if (const auto& direct = state->best_direct_path) {
    const auto [ec, sent] = co_await direct->socket->async_send_to(asio::buffer(*message), direct->addr,
                                                                   asio::as_tuple(asio::use_awaitable));
    if (ec) co_return error::SendingDirectError{ec, direct->addr};
    SEND_LOG(log::Level::debug, handle, "Sent APP via udp://{}", direct->addr);
    // Success is built in place: GCC 12 takes the move of an empty result for a read of an
    // uninitialised error.
    co_return boost::system::in_place_value;
  }

  const p2p::PubKey super_peer = node->peers().default_route();
  // A link that has ended since the state was made, or fails this write, leaves the message to
  // the UDP relay paths.
  if (const auto& link = state->super_peer_tcp; link && !link->closed()) {
    const bool sent = co_await send_super_peer_tcp(*node, *message, link, super_peer);
    if (sent) co_return boost::system::in_place_value;
  }
  for (const auto& target : state->relay_targets) {
    const auto [ec, sent] =
        co_await target.socket->async_send_to(asio::buffer(*message), target.addr, asio::as_tuple(asio::use_awaitable));
    if (!ec) {
      SEND_LOG(log::Level::trace, handle, "Relayed APP via super peer {} -> {}", local_addr_text(*target.socket),
               target.addr);
      co_return boost::system::in_place_value;
    }
    SEND_LOG_LIMITED(log::Level::warn, handle, "Failed to relay APP via super peer {} -> {}: {}",
                     local_addr_text(*target.socket), target.addr, ec.message());
  }
  SEND_LOG_LIMITED(log::Level::warn, handle, "Failed to relay APP via super peer.");
  co_return error::SendingRelayedError{handle.recipient(), super_peer};
}

}  // namespace valdori::node
