// ICMPv4 headers of the messages the agent sends itself (RFC 792).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace valdori::packet {

inline constexpr std::size_t kIcmpv4HeaderLen = 8;
inline constexpr std::uint8_t kIcmpv4DestinationUnreachable = 3;
inline constexpr std::uint8_t kIcmpv4CodeFragmentationNeeded = 4;  // and Don't Fragment set

// Fills the 8-byte header at the start of `message` (at least 8 bytes), whose body must already
// be in place: type, code, the 32-bit rest of the header, and the checksum over the whole
// message.
void write_icmpv4_header(std::span<std::uint8_t> message, std::uint8_t type, std::uint8_t code,
                         std::uint32_t rest_of_header);

}  // namespace valdori::packet
