#include "agent/agent/overlay_side/queue_to_overlay.hpp"

#include <array>
#include <span>
#include <string>
#include <vector>

#include "agent/agent/overlay_side/node_logger.hpp"
#include "agent/agent/overlay_side/queue_receive.hpp"
#include "overlay_node/node/send.hpp"
#include "util/mem/buffer_pool.hpp"
#include "util/runtime/race.hpp"

namespace valdori::agent {
namespace {

namespace asio = boost::asio;

// What one worker takes from the queue at once: what is waiting when it wakes, up to a run of
// segments of one send.
constexpr std::size_t kBurst = 64;

void log_failure(const OutboundItem& item, const valdori::node::SendResult& sent) {
  if (sent) return;
  const std::string recipient = item.handle->recipient().to_string();
  VLOG_AT_FIELDS_LIMITED(node_logger(), log::Level::warn,
                         (log::Fields{{"packet_size", std::to_string(item.packet.size())},
                                      {"recipient", recipient},
                                      {"error", p2p::node::error::debug(sent.error())}}),
                         "Failed to send packet to Valdori network: recipient={}, packet_size={} bytes, error={}",
                         recipient, item.packet.size(), p2p::node::error::display(sent.error()));
}

// The worker holding the queue's turn takes the packets waiting in the queue as one burst and
// sends them in order before it takes more: runs for one peer leave in one segmented send, and
// the packets of a flow in the order they came. A failed send loses its packet: the sender above
// retransmits if it cares.
asio::awaitable<void> send_queued(std::shared_ptr<OutboundQueue> queue, util::CancellationToken token,
                                  std::int32_t index, std::int32_t count) {
  VLOG_TRACE(node_logger(), "channel -> Valdori processing task started ({}/{}).", index + 1, count);
  std::vector<OutboundItem> items;
  items.reserve(kBurst);
  std::array<valdori::node::BurstPacket, kBurst> burst{};
  std::array<valdori::node::SendResult, kBurst> results{};
  valdori::node::BurstSender sender;
  if (!co_await queue->take_turn()) co_return;  // cancelled
  for (;;) {
    auto first = co_await queue->pop();
    if (!received(first, token, "channel")) co_return;
    items.push_back(std::move(*first));
    while (items.size() < kBurst) {
      auto next = queue->try_pop();
      if (!next) break;
      items.push_back(std::move(*next));
    }
    for (std::size_t i = 0; i < items.size(); ++i) burst[i] = {items[i].handle.get(), items[i].packet};
    co_await sender.send(std::span(burst).first(items.size()), results);
    if (token.is_cancelled()) co_return;
    for (std::size_t i = 0; i < items.size(); ++i) {
      log_failure(items[i], results[i]);
      util::mem::recycle_buffer(std::move(items[i].packet));
    }
    items.clear();
  }
}

}  // namespace

asio::awaitable<void> queue_to_overlay(std::shared_ptr<OutboundQueue> queue, util::CancellationToken token,
                                       std::int32_t index, std::int32_t count) {
  co_await util::until_cancelled(token, send_queued(std::move(queue), token, index, count));
  VLOG_TRACE(node_logger(), "Token cancelled. Exiting channel -> Valdori processing task ({}/{}).", index + 1, count);
}

}  // namespace valdori::agent
