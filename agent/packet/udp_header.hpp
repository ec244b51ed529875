// UDP headers of tunnel packets: the ports of a received datagram, and whole IPv4/UDP packets
// that the agent sends itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include <boost/system/result.hpp>

#include "agent/packet/ipv4_header.hpp"

namespace valdori::packet {

inline constexpr std::size_t kUdpHeaderLen = 8;
// The most one IPv4 packet without options can carry in one datagram.
inline constexpr std::size_t kUdpMaxPayloadLen = 65535 - kIpv4HeaderMinLen - kUdpHeaderLen;

struct UdpHeader {
  std::uint16_t source_port;
  std::uint16_t destination_port;
};

// The ports of the header at the start of `datagram`; none when it is shorter than a header.
std::optional<UdpHeader> parse_udp_header(std::span<const std::uint8_t> datagram);

struct UdpEndpoint {
  Ipv4Addr address;
  std::uint16_t port;

  bool operator==(const UdpEndpoint&) const = default;
};

// One IPv4 packet (header as write_ipv4_header gives it) carrying `payload` in a UDP datagram
// from `source` to `destination`, with the UDP checksum over the pseudo-header (RFC 768).
// Fails with message_size when the payload exceeds kUdpMaxPayloadLen.
boost::system::result<std::vector<std::uint8_t>> build_udp_packet(UdpEndpoint source, UdpEndpoint destination,
                                                                  std::span<const std::uint8_t> payload);

}  // namespace valdori::packet
