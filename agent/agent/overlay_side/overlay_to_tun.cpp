// The inbound packet path, from a peer to an application on this device:
//   1. receive: a node reader takes a datagram off a UDP socket (overlay_node/node/udp.cpp);
//   2. disarm: the node dispatches the message, opens it in place and hands the payload to its
//      sink, which queues it (overlay_node/node/dispatch.cpp, agent/agent/inner/channel_sink.cpp);
//   3. firewall: an overlay-to-tunnel worker checks the size and the receive trie (this file,
//      may_enter_tunnel; agent/agent/firewall/tries.hpp);
//   4. write: the packet goes into the tunnel (this file, forward_inbound;
//      agent/agent/netif/agent_netif.cpp).
// Every step runs on the runtime's inbound lane, so a packet never changes threads on its way.
#include "agent/agent/overlay_side/overlay_to_tun.hpp"

#include <span>
#include <string>
#include <vector>

#include <boost/asio/error.hpp>

#include "agent/agent/firewall/tries.hpp"
#include "agent/agent/inner/control_packet.hpp"
#include "agent/agent/overlay_side/icmp_fragmentation_needed.hpp"
#include "agent/agent/overlay_side/node_logger.hpp"
#include "agent/agent/overlay_side/queue_receive.hpp"
#include "overlay_node/node/send.hpp"
#include "util/mem/buffer_pool.hpp"
#include "util/runtime/race.hpp"

namespace valdori::agent {
namespace {

namespace asio = boost::asio;
using packet::Ipv4Header;

// The events about one packet carry its sender and addresses.
#define PACKET_LOG(level, sender, header, ...)                             \
  VLOG_AT_FIELDS(node_logger(), level,                                     \
                 (log::Fields{{"peer", (sender).to_string()},              \
                              {"src", (header).source.to_string()},        \
                              {"dst", (header).destination.to_string()}}), \
                 __VA_ARGS__)
#define PACKET_LOG_LIMITED(level, sender, header, ...)                             \
  VLOG_AT_FIELDS_LIMITED(node_logger(), level,                                     \
                         (log::Fields{{"peer", (sender).to_string()},              \
                                      {"src", (header).source.to_string()},        \
                                      {"dst", (header).destination.to_string()}}), \
                         __VA_ARGS__)

// The tests a packet from a peer passes before it may enter the tunnel, after the size check:
// no overlay control traffic, and the receive trie names its sender as the peer allowed to
// send from its source to its destination.
bool may_enter_tunnel(const AgentInner& inner, const p2p::PubKey& sender, std::span<const std::uint8_t> payload,
                      const Ipv4Header& header) {
  if (is_valdori_control_packet(payload)) {
    PACKET_LOG(log::Level::trace, sender, header,
               "Dropping Valdori control plane packet: {} -> {} (control traffic filtered)", header.source.to_string(),
               header.destination.to_string());
    return false;
  }
  const std::shared_ptr<const firewall::RxTrie> rx_trie = inner.rx_trie.load();
  const auto match = firewall::lookup(*rx_trie, header.source, header.destination);
  if (match.outer_net == nullptr) {
    PACKET_LOG_LIMITED(log::Level::warn, sender, header,
                       "No inbound route found for source: {} -> {} (source IP not in routing table)",
                       header.source.to_string(), header.destination.to_string());
    return false;
  }
  if (match.value == nullptr) {
    PACKET_LOG_LIMITED(log::Level::warn, sender, header,
                       "No inbound route found for destination: {} -> {} (missing destination route in routing table)",
                       header.source.to_string(), header.destination.to_string());
    return false;
  }
  if (*match.value != sender) {
    const p2p::PubKey& expected = *match.value;
    VLOG_AT_FIELDS_LIMITED(node_logger(), log::Level::warn,
                           (log::Fields{{"peer", sender.to_string()},
                                        {"expected_peer", expected.to_string()},
                                        {"src", header.source.to_string()},
                                        {"dst", header.destination.to_string()}}),
                           "Security violation: packet source mismatch - received from peer {} with source IP {} but "
                           "expected peer {} for this route",
                           sender.to_string(), header.source.to_string(), expected.to_string());
    return false;
  }
  return true;
}

// Tells the sender of a packet too large for the tunnel that may not be fragmented which size
// does pass, so that it lowers its path MTU.
asio::awaitable<void> answer_oversized(const AgentInner& inner, const p2p::PubKey& sender,
                                       std::span<const std::uint8_t> payload, const Ipv4Header& header) {
  VLOG_AT_FIELDS(node_logger(), log::Level::trace,
                 (log::Fields{{"peer", sender.to_string()},
                              {"src", header.source.to_string()},
                              {"dst", header.destination.to_string()},
                              {"packet_size", std::to_string(payload.size())},
                              {"mtu", std::to_string(inner.mtu)}}),
                 "Packet size {} bytes exceeds MTU {} bytes with Don't Fragment flag set, sending ICMP Fragmentation "
                 "Needed",
                 payload.size(), inner.mtu);
  const std::vector<std::uint8_t> reply = create_icmp_fragmentation_needed(payload, header, inner.mtu);
  const auto handle = inner.node->send_handle(sender);
  if (!handle) co_return;
  const auto sent = co_await valdori::node::send(**handle, reply);
  if (!sent) {
    VLOG_AT_FIELDS_LIMITED(
        node_logger(), log::Level::warn,
        (log::Fields{{"peer", sender.to_string()}, {"error", p2p::node::error::debug(sent.error())}}),
        "Failed to send ICMP Fragmentation Needed response to peer: {}", p2p::node::error::display(sent.error()));
  } else {
    VLOG_AT_FIELDS(node_logger(), log::Level::trace, (log::Fields{{"peer", sender.to_string()}}),
                   "Successfully sent ICMP Fragmentation Needed response to peer");
  }
}

void log_delivery(const p2p::PubKey& sender, const Ipv4Header& header, const boost::system::result<void>& written) {
  if (!written) {
    VLOG_AT_FIELDS_LIMITED(node_logger(), log::Level::warn,
                           (log::Fields{{"peer", sender.to_string()},
                                        {"src", header.source.to_string()},
                                        {"dst", header.destination.to_string()},
                                        {"error", written.error().what()}}),
                           "Failed to forward packet to TUN device: {}", written.error().message());
  } else {
    PACKET_LOG(log::Level::trace, sender, header, "Successfully forwarded packet to TUN device: {} -> {}",
               header.source.to_string(), header.destination.to_string());
  }
}

asio::awaitable<void> forward_inbound(std::shared_ptr<InboundQueue> queue, std::shared_ptr<AgentInner> inner,
                                      util::CancellationToken token, std::int32_t index, std::int32_t count) {
  VLOG_TRACE(node_logger(), "Valdori -> tun packet processing task started ({}/{}).", index + 1, count);
  // Only the writer holding the queue's turn waits for packets, so that they enter the tunnel in
  // the order they came. What is waiting is taken at once: a pop that waits completes through
  // the scheduler, and the readers of the same thread fill the queue faster than that.
  if (!co_await queue->take_turn()) co_return;  // cancelled
  for (;;) {
    auto popped = co_await queue->pop();
    if (!received(popped, token, "Valdori")) co_return;
    for (std::optional<InboundItem> item = std::move(*popped); item; item = queue->try_pop()) {
      const p2p::PubKey& sender = item->sender;
      const std::span<const std::uint8_t> payload = item->payload;

      const auto header = packet::parse_ipv4_header(payload);
      if (!header) {
        VLOG_AT_FIELDS_LIMITED(
            node_logger(), log::Level::err,
            (log::Fields{{"peer", sender.to_string()}, {"error", std::string(to_string(header.error()))}}),
            "Failed to decode IP packet from peer {}: {}", sender.to_string(), to_string(header.error()));
        continue;
      }
      VLOG_AT_FIELDS(node_logger(), log::Level::trace,
                     (log::Fields{{"peer", sender.to_string()},
                                  {"src", header->source.to_string()},
                                  {"dst", header->destination.to_string()},
                                  {"payload_len", std::to_string(payload.size())}}),
                     "Forwarding packet from Valdori to TUN device: {} -> {} ({} bytes)", header->source.to_string(),
                     header->destination.to_string(), payload.size());

      // Before every other test: even a sender the firewall would refuse learns the size that
      // passes.
      if (payload.size() > inner->mtu && header->dont_fragment) {
        co_await answer_oversized(*inner, sender, payload, *header);
      } else if (may_enter_tunnel(*inner, sender, payload, *header)) {
        // The coroutine of a waiting write only when the device is full.
        auto written = inner->netif.try_send(payload);
        if (!written && written.error() == asio::error::would_block) written = co_await inner->netif.send(payload);
        log_delivery(sender, *header, written);
      }
      util::mem::recycle_buffer(std::move(item->payload));
      if (token.is_cancelled()) co_return;
    }
  }
}

}  // namespace

asio::awaitable<void> overlay_to_tun(std::shared_ptr<InboundQueue> queue, std::shared_ptr<AgentInner> inner,
                                     util::CancellationToken token, std::int32_t index, std::int32_t count) {
  co_await util::until_cancelled(token, forward_inbound(std::move(queue), std::move(inner), token, index, count));
  VLOG_TRACE(node_logger(), "Token cancelled. Exiting Valdori -> tun packet processing task ({}/{}).", index + 1,
             count);
}

}  // namespace valdori::agent
