// IPv4 packets as applications put them into a tunnel, built by hand so that the agent's own
// header code is not checked against itself, and readers of the packets the agent writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "util/net/ipv4_net.hpp"

namespace valdori::agent::testing {

using util::net::Ipv4Addr;
using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kProtocolIcmp = 1;
inline constexpr std::uint8_t kProtocolUdp = 17;

Ipv4Addr ip(const char* text);

// A 20-byte header (TTL 64, the given identification) with a correct checksum, then `payload`.
Bytes ipv4_packet(Ipv4Addr source, Ipv4Addr destination, std::uint8_t protocol, std::span<const std::uint8_t> payload,
                  bool dont_fragment = true, std::uint16_t identification = 0x4d2);

// An ICMP echo request (or reply) with `data_len` bytes of counting data.
Bytes icmp_echo(Ipv4Addr source, Ipv4Addr destination, bool reply, std::uint16_t id, std::uint16_t sequence,
                std::size_t data_len = 56);

// A UDP datagram with its pseudo-header checksum.
Bytes udp_packet(Ipv4Addr source, std::uint16_t source_port, Ipv4Addr destination, std::uint16_t destination_port,
                 std::span<const std::uint8_t> payload, bool dont_fragment = true);
// The same with `payload_len` bytes of counting data.
Bytes udp_packet(Ipv4Addr source, std::uint16_t source_port, Ipv4Addr destination, std::uint16_t destination_port,
                 std::size_t payload_len, bool dont_fragment = true);

// Readers of a packet the agent wrote; each expects at least the bytes it reads.
std::size_t header_len(std::span<const std::uint8_t> packet);
std::uint8_t protocol(std::span<const std::uint8_t> packet);
Ipv4Addr source(std::span<const std::uint8_t> packet);
Ipv4Addr destination(std::span<const std::uint8_t> packet);
std::uint16_t load16(std::span<const std::uint8_t> bytes, std::size_t offset);
// What follows the IPv4 header (and, for the UDP payload, the UDP header).
std::span<const std::uint8_t> ip_payload(std::span<const std::uint8_t> packet);
std::span<const std::uint8_t> udp_payload(std::span<const std::uint8_t> packet);

}  // namespace valdori::agent::testing
