#include "agent/agent/inner/control_packet.hpp"

#include <algorithm>

#include "agent/packet/ipv4_header.hpp"
#include "agent/packet/udp_header.hpp"
#include "p2p_core/message/layout.hpp"

namespace valdori::agent {

bool is_valdori_control_packet(std::span<const std::uint8_t> packet) {
  const auto header = packet::parse_ipv4_header(packet);
  if (!header || header->protocol != packet::kIpProtocolUdp) return false;
  const std::size_t payload_offset = header->header_len + packet::kUdpHeaderLen;
  const auto& magic = p2p::message::kMagicNumber.bytes;
  // Neither the UDP length nor the fragment offset is trusted: whatever lies there is tested.
  if (packet.size() < payload_offset + magic.size()) return false;
  return std::equal(magic.begin(), magic.end(), packet.begin() + static_cast<std::ptrdiff_t>(payload_offset));
}

}  // namespace valdori::agent
