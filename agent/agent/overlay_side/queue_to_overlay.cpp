#include "agent/agent/overlay_side/queue_to_overlay.hpp"

#include <string>

#include "agent/agent/overlay_side/node_logger.hpp"
#include "agent/agent/overlay_side/queue_receive.hpp"
#include "overlay_node/node/send.hpp"
#include "util/runtime/race.hpp"

namespace valdori::agent {
namespace {

namespace asio = boost::asio;

// Each packet is sent to the end before the next is taken, so a worker has one send in flight.
// A failed send loses its packet: the sender above retransmits if it cares.
asio::awaitable<void> send_queued(std::shared_ptr<OutboundQueue> queue, util::CancellationToken token,
                                  std::int32_t index, std::int32_t count) {
  VLOG_TRACE(node_logger(), "channel -> Valdori processing task started ({}/{}).", index + 1, count);
  for (;;) {
    auto item = co_await queue->pop();
    if (!received(item, token, "channel")) co_return;
    const auto sent = co_await valdori::node::send(*item->handle, item->packet);
    if (token.is_cancelled()) co_return;
    if (!sent) {
      const std::string recipient = item->handle->recipient().to_string();
      VLOG_AT_FIELDS_LIMITED(node_logger(), log::Level::warn,
                             (log::Fields{{"packet_size", std::to_string(item->packet.size())},
                                          {"recipient", recipient},
                                          {"error", p2p::node::error::debug(sent.error())}}),
                             "Failed to send packet to Valdori network: recipient={}, packet_size={} bytes, error={}",
                             recipient, item->packet.size(), p2p::node::error::display(sent.error()));
    }
  }
}

}  // namespace

asio::awaitable<void> queue_to_overlay(std::shared_ptr<OutboundQueue> queue, util::CancellationToken token,
                                       std::int32_t index, std::int32_t count) {
  co_await util::until_cancelled(token, send_queued(std::move(queue), token, index, count));
  VLOG_TRACE(node_logger(), "Token cancelled. Exiting channel -> Valdori processing task ({}/{}).", index + 1, count);
}

}  // namespace valdori::agent
