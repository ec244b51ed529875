#include "agent/agent/overlay_side/icmp_fragmentation_needed.hpp"

#include <algorithm>
#include <cstring>

#include "agent/packet/icmpv4_header.hpp"

namespace valdori::agent {

std::vector<std::uint8_t> create_icmp_fragmentation_needed(std::span<const std::uint8_t> packet,
                                                           const packet::Ipv4Header& header, std::uint16_t mtu) {
  constexpr std::size_t kQuotedPayloadLen = 8;
  const std::size_t quoted_len = std::min(packet.size(), header.header_len + kQuotedPayloadLen);
  const std::size_t icmp_offset = packet::kIpv4HeaderMinLen;
  const std::size_t body_offset = icmp_offset + packet::kIcmpv4HeaderLen;

  std::vector<std::uint8_t> reply(body_offset + quoted_len);
  packet::write_ipv4_header(std::span(reply).first<packet::kIpv4HeaderMinLen>(), packet::kIpProtocolIcmp,
                            header.destination, header.source, static_cast<std::uint16_t>(reply.size()));
  std::memcpy(&reply[body_offset], packet.data(), quoted_len);
  // Rest of the header: 16 unused bits, then the next-hop MTU.
  packet::write_icmpv4_header(std::span(reply).subspan(icmp_offset), packet::kIcmpv4DestinationUnreachable,
                              packet::kIcmpv4CodeFragmentationNeeded, mtu);
  return reply;
}

}  // namespace valdori::agent
