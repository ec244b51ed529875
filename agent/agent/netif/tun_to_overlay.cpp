// The outbound packet path, from an application on this device to a peer:
//   1. tunnel read: a worker reads one packet from the tunnel (this file, read_packets; the
//      device is platform/tun/tun_device.cpp);
//   2. firewall: the transmit trie names the peer for destination and source (this file,
//      forward; agent/agent/firewall/tries.hpp);
//   3. queue: the packet and the peer's send handle go into the outbound queue
//      (agent/agent/inner/packet_queue.hpp);
//   4. arm: a queue-to-overlay worker builds the message in a pooled buffer and seals it in place
//      (agent/agent/overlay_side/queue_to_overlay.cpp, overlay_node/node/send.cpp);
//   5. send: over the peer's direct path, else relayed (overlay_node/node/send.cpp).
// Every step runs on the runtime's outbound lane, so a packet never changes threads on its way.
#include "agent/agent/netif/tun_to_overlay.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/system/system_error.hpp>

#include "agent/agent/firewall/tries.hpp"
#include "agent/agent/inner/agent_inner.hpp"
#include "agent/agent/inner/control_packet.hpp"
#include "agent/agent/overlay_side/icmp_fragmentation_needed.hpp"
#include "agent/packet/ipv4_header.hpp"
#include "agent/packet/udp_header.hpp"
#include "util/log/log.hpp"
#include "util/mem/buffer_pool.hpp"
#include "util/runtime/race.hpp"
#include "util/runtime/turns.hpp"
#include "util/system/env.hpp"

namespace valdori::agent::netif {
namespace {

namespace asio = boost::asio;
using packet::Ipv4Header;

using Clock = std::chrono::steady_clock;

constexpr std::int32_t kDefaultTunThreads = 3;
constexpr std::uint16_t kDnsPort = 53;
// A failed read is retried after a pause that doubles from the first to the last; a device that
// fails this long, or whose failure says it is gone, is given up.
constexpr std::chrono::milliseconds kFirstRetryPause{10};
constexpr std::chrono::milliseconds kLastRetryPause{1000};
constexpr std::chrono::seconds kGiveUpAfter{30};
// Packets a worker reads in a row before it lets the queue's consumers run.
constexpr std::size_t kBurst = 32;

spdlog::logger& lg() { return log::module_logger<"valdori_agent::agent::netif">(); }

// The events about one packet carry its addresses.
#define PACKET_LOG(level, header, ...)                                                                           \
  VLOG_AT_FIELDS(lg(), level,                                                                                    \
                 (log::Fields{{"src", (header).source.to_string()}, {"dst", (header).destination.to_string()}}), \
                 __VA_ARGS__)
#define PACKET_LOG_LIMITED(level, header, ...)                                                                     \
  VLOG_AT_FIELDS_LIMITED(                                                                                          \
      lg(), level, (log::Fields{{"src", (header).source.to_string()}, {"dst", (header).destination.to_string()}}), \
      __VA_ARGS__)

struct DnsQuery {
  packet::UdpEndpoint client;
  packet::UdpEndpoint responder;
  std::span<const std::uint8_t> message;
};

// The query inside a UDP datagram to the agent's DNS responder, if the packet is one.
std::optional<DnsQuery> dns_query(const AgentInner& inner, std::span<const std::uint8_t> packet,
                                  const Ipv4Header& header) {
  if (!inner.dns) return std::nullopt;
  VLOG_TRACE(lg(), "Check for DNS query to DNS server");
  if (header.protocol != packet::kIpProtocolUdp || !inner.dns->is_server_ip(header.destination)) return std::nullopt;
  const std::span<const std::uint8_t> datagram = packet.subspan(header.header_len);
  const auto udp = packet::parse_udp_header(datagram);
  if (!udp || udp->destination_port != kDnsPort) return std::nullopt;
  return DnsQuery{{header.source, udp->source_port},
                  {header.destination, udp->destination_port},
                  datagram.subspan(packet::kUdpHeaderLen)};
}

// Queues a copy of the packet for the peer that the transmit trie names for its destination and
// source, without waiting: a full queue costs the packet, never a stalled read. False when no
// entry covers the destination.
bool forward(const AgentInner& inner, std::span<const std::uint8_t> packet, const Ipv4Header& header) {
  const std::shared_ptr<const firewall::TxTrie> tx_trie = inner.tx_trie.load();
  const auto match = firewall::lookup(*tx_trie, header.destination, header.source);
  if (match.outer_net == nullptr) return false;
  PACKET_LOG(log::Level::trace, header, "Found dest trie entry with net {}", *match.outer_net);
  if (match.value == nullptr) {
    PACKET_LOG_LIMITED(log::Level::warn, header,
                       "No outbound route found for source: {} -> {} (source IP not in routing table)",
                       header.source.to_string(), header.destination.to_string());
    return true;
  }
  const auto refused = inner.outbound->try_push(OutboundItem{util::mem::take_buffer(packet), *match.value});
  if (refused) {
    VLOG_AT_FIELDS_LIMITED(lg(), log::Level::warn,
                           (log::Fields{{"src", header.source.to_string()},
                                        {"dst", header.destination.to_string()},
                                        {"error", std::string(*refused)}}),
                           "Failed to forward packet to Valdori: {}", *refused);
  } else {
    PACKET_LOG(log::Level::trace, header, "Successfully forwarded packet to Valdori: {} -> {}",
               header.source.to_string(), header.destination.to_string());
  }
  return true;
}

void log_reflection(const Ipv4Header& header, const boost::system::result<void>& written) {
  if (!written) {
    VLOG_AT_FIELDS_LIMITED(lg(), log::Level::warn,
                           (log::Fields{{"src", header.source.to_string()},
                                        {"dst", header.destination.to_string()},
                                        {"error", written.error().what()}}),
                           "Failed to send loopback packet back to TUN device: {}", written.error().message());
  } else {
    PACKET_LOG(log::Level::trace, header, "Successfully sent loopback packet back to TUN device: {} -> {}",
               header.source.to_string(), header.destination.to_string());
  }
}

// The failures of one worker's reads since its last good one.
class ReadFailures {
 public:
  // The pause before the next read, or none when the device is gone for good.
  std::optional<std::chrono::milliseconds> next(const boost::system::error_code& error, Clock::time_point now) {
    if (error == boost::system::errc::bad_file_descriptor || error == boost::system::errc::no_such_device ||
        error == asio::error::eof)
      return std::nullopt;
    if (!first_) first_ = now;
    if (now - *first_ >= kGiveUpAfter) return std::nullopt;
    const auto pause = pause_;
    pause_ = std::min(pause_ * 2, kLastRetryPause);
    return pause;
  }
  void clear() {
    first_.reset();
    pause_ = kFirstRetryPause;
  }

 private:
  std::optional<Clock::time_point> first_;
  std::chrono::milliseconds pause_ = kFirstRetryPause;
};

// Tells the application that sent a packet above the MTU which size passes, so that it lowers
// its path MTU; the packet itself is dropped.
void answer_oversized(platform::TunDevice& device, std::span<const std::uint8_t> packet, std::size_t mtu) {
  VLOG_WARN_LIMITED(lg(), "Dropping packet from TUN device: longer than the MTU of {} bytes", mtu);
  const auto header = packet::parse_ipv4_header(packet);
  if (!header) return;
  const auto reply = create_icmp_fragmentation_needed(packet, *header, static_cast<std::uint16_t>(mtu));
  if (const auto written = device.try_send(reply); !written) {
    VLOG_DEBUG(lg(), "Failed to send ICMP Fragmentation Needed to TUN device: {}", written.error().message());
  }
}

asio::awaitable<void> read_packets(std::shared_ptr<AgentInner> inner, std::shared_ptr<platform::TunDevice> device,
                                   std::shared_ptr<util::Turns> turns, util::CancellationToken token,
                                   std::int32_t index, std::int32_t count, ReadClock clock) {
  VLOG_TRACE(lg(), "tun -> Valdori packet processing task started ({}/{}).", index + 1, count);
  const std::size_t mtu = inner->mtu;
  // One byte more than a packet may have, so that a longer one shows instead of arriving cut.
  std::vector<std::uint8_t> buffer(mtu + 1);
  ReadFailures failures;
  std::size_t burst = 0;  // packets read without waiting
  bool holding = false;
  for (;;) {
    // Only the worker holding the turn waits on the device and queues what it reads, so that the
    // packets of a burst are queued in the order they came; it passes the turn on after a burst.
    if (!holding) {
      holding = co_await turns->take();
      if (!holding) co_return;  // cancelled
    }
    // Read what is waiting without a pause, so that the queue's consumers see the burst at once
    // and can send it in runs; give them the thread at the latest after a burst's worth.
    if (burst == kBurst) {
      burst = 0;
      turns->pass();
      holding = false;
      continue;
    }
    auto read = device->try_recv(buffer);
    if (!read && read.error() == asio::error::would_block) {
      if (burst > 0) {
        // The burst is over: its packets go out before this worker arms its wait, which is then
        // off their way.
        burst = 0;
        co_await asio::post(co_await asio::this_coro::executor, asio::use_awaitable);
        if (token.is_cancelled()) co_return;
      }
      read = co_await device->recv(buffer);
    }
    ++burst;
    if (token.is_cancelled()) co_return;
    if (!read) {
      if (read.error() == asio::error::operation_aborted) co_return;  // the worker is being torn down
      const auto pause = failures.next(read.error(), clock());
      if (!pause) {
        // The worker fails, and with it the runner: the supervisor then stops the agent.
        VLOG_ERROR(lg(), "Failed to receive packet from TUN device. Cancel token: {}", read.error().message());
        throw boost::system::system_error(read.error());
      }
      VLOG_ERROR(lg(), "Failed to receive packet from TUN device: {}. Retrying in {} ms", read.error().message(),
                 pause->count());
      asio::steady_timer timer(co_await asio::this_coro::executor, *pause);
      co_await timer.async_wait(asio::use_awaitable);
      continue;
    }
    failures.clear();
    const std::span<const std::uint8_t> packet(buffer.data(), *read);
    if (packet.size() > mtu) {
      answer_oversized(*device, packet, mtu);
      continue;
    }
    const auto header = packet::parse_ipv4_header(packet);
    if (!header) continue;  // not IPv4, or cut short: nothing any peer could take
    VLOG_AT_FIELDS(lg(), log::Level::trace,
                   (log::Fields{{"src", header->source.to_string()},
                                {"dst", header->destination.to_string()},
                                {"payload_len", std::to_string(packet.size())}}),
                   "Forwarding packet from TUN device to Valdori: {} -> {} ({} bytes)", header->source.to_string(),
                   header->destination.to_string(), packet.size());

    if (is_valdori_control_packet(packet)) {
      PACKET_LOG(log::Level::trace, *header,
                 "Dropping Valdori control plane packet: {} -> {} (control traffic filtered)",
                 header->source.to_string(), header->destination.to_string());
      continue;
    }
    if (header->source == header->destination) {
      // Only what this node sends to itself comes back; anything else would circle between the
      // tunnel and a host that forwards it.
      if (!inner->netif.slot()->is_own_address(header->destination)) {
        PACKET_LOG(log::Level::debug, *header, "Dropping packet from TUN device with source equal to destination: {}",
                   header->destination.to_string());
        continue;
      }
      PACKET_LOG(log::Level::trace, *header, "Loopback packet detected: {} -> {}, sending directly back to TUN device",
                 header->source.to_string(), header->destination.to_string());
      const auto written = co_await device->send(packet);
      if (token.is_cancelled()) co_return;
      log_reflection(*header, written);
      continue;
    }
    // Before the transmit trie, so that a default route through a peer cannot carry the queries
    // meant for the agent's own responder away.
    if (const auto query = dns_query(*inner, packet, *header)) {
      VLOG_TRACE(lg(), "Got potential DNS request: {} -> {}", header->source.to_string(),
                 header->destination.to_string());
      co_await inner->dns->on_packet(device, query->client, query->responder, query->message);
      if (token.is_cancelled()) co_return;
      VLOG_TRACE(lg(), "Packet has been processed as a DNS request. Skip further processing.");
      continue;
    }
    if (!forward(*inner, packet, *header)) {
      PACKET_LOG_LIMITED(
          log::Level::warn, *header,
          "No outbound route found for destination: {} -> {} (missing destination route in routing table)",
          header->source.to_string(), header->destination.to_string());
    }
  }
}

}  // namespace

std::int32_t tun_threads() { return util::system::get_task_count("TUN_THREADS", kDefaultTunThreads); }

asio::awaitable<void> tun_to_overlay(std::shared_ptr<AgentInner> inner, std::shared_ptr<platform::TunDevice> device,
                                     std::shared_ptr<util::Turns> turns, util::CancellationToken token,
                                     std::int32_t index, std::int32_t count, ReadClock clock) {
  co_await util::until_cancelled(token, read_packets(std::move(inner), std::move(device), std::move(turns), token,
                                                     index, count, std::move(clock)));
  VLOG_TRACE(lg(), "Token cancelled. Exiting tun -> Valdori packet processing task ({}/{}).", index + 1, count);
}

}  // namespace valdori::agent::netif
