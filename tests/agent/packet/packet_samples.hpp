// Packets and checks shared by the packet tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace valdori::packet::testing {

using Bytes = std::vector<std::uint8_t>;

// The one's-complement sum of `bytes` as 16-bit big-endian words, a last odd byte padded with
// zero; written out here rather than taken from the code under test.
inline std::uint16_t ones_complement_sum(std::span<const std::uint8_t> bytes) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    const std::uint32_t high = bytes[i];
    const std::uint32_t low = i + 1 < bytes.size() ? bytes[i + 1] : 0;
    sum += high << 8 | low;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return static_cast<std::uint16_t>(sum);
}

// An IPv4 packet of `size` bytes (at least 20) with header length `ihl` × 4 whose other bytes
// count up from 0xA0; the caller sets the fields it needs.
inline Bytes ipv4_packet(std::size_t size, std::uint8_t ihl = 5, std::uint8_t protocol = 17) {
  Bytes packet(size);
  for (std::size_t i = 0; i < size; ++i) packet[i] = static_cast<std::uint8_t>(0xA0 + i);
  packet[0] = static_cast<std::uint8_t>(0x40 | ihl);
  packet[9] = protocol;
  return packet;
}

}  // namespace valdori::packet::testing
