// The answer to a packet from a peer that is larger than the agent MTU and may not be
// fragmented: an ICMP "fragmentation needed" message (RFC 792, next-hop MTU of RFC 1191) back
// to the packet's source, so that its sender lowers its path MTU.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "agent/packet/ipv4_header.hpp"

namespace valdori::agent {

// `header` is the parse of `packet`'s header. The reply goes from the packet's destination to
// its source and quotes the packet's header and the first 8 bytes after it (fewer when the
// packet is shorter).
std::vector<std::uint8_t> create_icmp_fragmentation_needed(std::span<const std::uint8_t> packet,
                                                           const packet::Ipv4Header& header, std::uint16_t mtu);

}  // namespace valdori::agent
