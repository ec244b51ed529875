#include "agent/agent/netif/tun_to_overlay.hpp"

#include <optional>
#include <span>
#include <string>
#include <vector>

#include <boost/asio/error.hpp>

#include "agent/agent/firewall/tries.hpp"
#include "agent/agent/inner/agent_inner.hpp"
#include "agent/agent/inner/control_packet.hpp"
#include "agent/packet/ipv4_header.hpp"
#include "agent/packet/udp_header.hpp"
#include "util/log/log.hpp"
#include "util/runtime/race.hpp"
#include "util/system/env.hpp"

namespace valdori::agent::netif {
namespace {

namespace asio = boost::asio;
using packet::Ipv4Header;

constexpr std::int32_t kDefaultTunThreads = 3;
constexpr std::uint16_t kDnsPort = 53;

spdlog::logger& lg() {
  static spdlog::logger& logger = log::logger("valdori_agent::agent::netif");
  return logger;
}

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
  const auto refused =
      inner.outbound->try_push(OutboundItem{std::vector<std::uint8_t>(packet.begin(), packet.end()), *match.value});
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

asio::awaitable<void> read_packets(std::shared_ptr<AgentInner> inner, std::shared_ptr<platform::TunDevice> device,
                                   util::CancellationToken token, std::int32_t index, std::int32_t count) {
  VLOG_TRACE(lg(), "tun -> Valdori packet processing task started ({}/{}).", index + 1, count);
  const std::size_t mtu = inner->mtu;
  // One byte more than a packet may have, so that a longer one shows instead of arriving cut.
  std::vector<std::uint8_t> buffer(mtu + 1);
  for (;;) {
    const auto read = co_await device->recv(buffer);
    if (token.is_cancelled()) co_return;
    if (!read) {
      if (read.error() == asio::error::operation_aborted) co_return;  // the worker is being torn down
      VLOG_ERROR(lg(), "Failed to receive packet from TUN device. Cancel token: {}", read.error().message());
      token.cancel();
      co_return;
    }
    if (*read > mtu) {
      VLOG_WARN_LIMITED(lg(), "Dropping packet from TUN device: longer than the MTU of {} bytes", mtu);
      continue;
    }
    const std::span<const std::uint8_t> packet(buffer.data(), *read);
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
                                     util::CancellationToken token, std::int32_t index, std::int32_t count) {
  co_await util::until_cancelled(token, read_packets(std::move(inner), std::move(device), token, index, count));
  VLOG_TRACE(lg(), "Token cancelled. Exiting tun -> Valdori packet processing task ({}/{}).", index + 1, count);
}

}  // namespace valdori::agent::netif
