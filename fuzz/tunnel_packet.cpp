// The tests a packet passes between the tunnel and the overlay, in the order the packet path
// applies them: the IPv4 header, the overlay's own control traffic, the loopback reflection,
// the DNS intercept (answered by the embedded responder) and the firewall lookup on the way
// out; the header, the ICMP answer to an oversized packet, the control traffic and the
// firewall lookup on the way in.
//
// Input: one byte (bit 0: the packet comes from a peer instead of the tunnel; bits 1-2: which
// peer sent it), then the packet.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "agent/agent/firewall/tries.hpp"
#include "agent/agent/inner/control_packet.hpp"
#include "agent/agent/overlay_side/icmp_fragmentation_needed.hpp"
#include "agent/packet/icmpv4_header.hpp"
#include "fuzz/dns_responder.hpp"
#include "fuzz/fuzz_input.hpp"

namespace valdori::fuzz {
namespace {

using util::net::Ipv4Net;
using util::net::TwoLevelPrefixMapBuilder;

constexpr std::uint16_t kMtu = 1073;
constexpr std::uint16_t kDnsPort = 53;

p2p::PubKey key(std::uint8_t byte) {
  p2p::PubKey::Bytes bytes{};
  bytes.fill(byte);
  return p2p::PubKey(bytes);
}

Ipv4Net net(const char* text) { return *Ipv4Net::parse(text); }

// This node is 10.0.0.1 in 10.0.0.0/24; peer 1 is 10.0.0.2, peer 2 the gateway to 192.168.1.0/24.
struct Firewall {
  Firewall() {
    TwoLevelPrefixMapBuilder<std::shared_ptr<p2p::node::SendHandle>> tx;
    tx.inner(net("10.0.0.2/32")).try_emplace(net("10.0.0.1/32"));
    tx.inner(net("192.168.1.0/24")).try_emplace(net("10.0.0.0/24"));
    tx.inner(net("0.0.0.0/0"));
    tx_trie = std::move(tx).build();
    TwoLevelPrefixMapBuilder<p2p::PubKey> rx;
    rx.inner(net("10.0.0.2/32")).try_emplace(net("10.0.0.1/32"), key(1));
    rx.inner(net("192.168.1.0/24")).try_emplace(net("10.0.0.1/32"), key(2));
    rx_trie = std::move(rx).build();
  }
  agent::firewall::TxTrie tx_trie;
  agent::firewall::RxTrie rx_trie;
};

void from_tunnel(DnsResponder& responder, const Firewall& firewall, std::span<const std::uint8_t> packet) {
  if (packet.size() > kMtu) return;
  const auto header = packet::parse_ipv4_header(packet);
  if (!header) return;
  if (agent::is_valdori_control_packet(packet)) return;
  if (header->source == header->destination) return;  // reflected
  if (header->protocol == packet::kIpProtocolUdp && responder.dns().is_server_ip(header->destination)) {
    const auto datagram = packet.subspan(header->header_len);
    const auto udp = packet::parse_udp_header(datagram);
    if (udp && udp->destination_port == kDnsPort) {
      responder.answer({header->source, udp->source_port}, {header->destination, udp->destination_port},
                       datagram.subspan(packet::kUdpHeaderLen));
      return;
    }
  }
  (void)agent::firewall::lookup(firewall.tx_trie, header->destination, header->source);
}

void from_peer(const Firewall& firewall, const p2p::PubKey& sender, std::span<const std::uint8_t> packet) {
  const auto header = packet::parse_ipv4_header(packet);
  if (!header) {
    (void)packet::to_string(header.error());
    return;
  }
  if (packet.size() > kMtu && header->dont_fragment) {
    const auto reply = agent::create_icmp_fragmentation_needed(packet, *header, kMtu);
    const auto replied = packet::parse_ipv4_header(reply);
    if (!replied || replied->protocol != packet::kIpProtocolIcmp || replied->source != header->destination ||
        replied->destination != header->source || reply.size() > kMtu ||
        reply.size() < replied->header_len + packet::kIcmpv4HeaderLen)
      std::abort();
    return;
  }
  if (agent::is_valdori_control_packet(packet)) return;
  const auto match = agent::firewall::lookup(firewall.rx_trie, header->source, header->destination);
  (void)(match.value != nullptr && *match.value == sender);
}

}  // namespace
}  // namespace valdori::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace valdori::fuzz;
  static DnsResponder& responder = *new DnsResponder();
  static const Firewall firewall;
  FuzzInput input(data, size);
  const std::uint8_t choice = input.byte();
  const auto packet = input.bytes(size);
  if ((choice & 1) != 0) {
    from_peer(firewall, key(static_cast<std::uint8_t>(choice >> 1 & 3)), packet);
  } else {
    from_tunnel(responder, firewall, packet);
  }
  return 0;
}
