// IPv4 headers of tunnel packets: the bounds-checked reading of the fields the packet path
// uses, and the writing of the header of a packet the agent sends itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include <boost/system/result.hpp>

#include "util/net/ipv4_net.hpp"

namespace valdori::packet {

using util::net::Ipv4Addr;

inline constexpr std::size_t kIpv4HeaderMinLen = 20;
inline constexpr std::uint8_t kIpProtocolIcmp = 1;
inline constexpr std::uint8_t kIpProtocolUdp = 17;

enum class Ipv4HeaderError : std::uint8_t {
  PacketTooShort,        // fewer than 20 bytes
  NotIpv4,               // version nibble other than 4
  HeaderLengthTooSmall,  // IHL below 5
  HeaderBeyondPacket,    // IHL × 4 bytes do not fit in the packet
};

// "packet shorter than an IPv4 header", ...
std::string_view to_string(Ipv4HeaderError error);

struct Ipv4Header {
  std::size_t header_len;  // IHL × 4, options included
  std::uint8_t protocol;
  bool dont_fragment;
  Ipv4Addr source;
  Ipv4Addr destination;
};

// Accepts a packet of at least 20 bytes with version 4, IHL at least 5 and the whole header
// inside the packet. Nothing else is checked: not the total length, not the checksum.
boost::system::result<Ipv4Header, Ipv4HeaderError> parse_ipv4_header(std::span<const std::uint8_t> packet);

// Writes the 20-byte header of a packet the agent originates: no options, identification 0,
// Don't Fragment set, TTL 64, with its checksum.
void write_ipv4_header(std::span<std::uint8_t, kIpv4HeaderMinLen> out, std::uint8_t protocol, Ipv4Addr source,
                       Ipv4Addr destination, std::uint16_t total_length);

}  // namespace valdori::packet
