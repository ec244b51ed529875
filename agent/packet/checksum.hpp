// The Internet checksum (RFC 1071): the one's complement of the one's-complement sum of the
// data taken as 16-bit big-endian words. A header or message that carries a correct checksum
// sums, checksum included, to a checksum of 0.
#pragma once

#include <cstdint>
#include <span>

namespace valdori::packet {

// Sums pieces of data in order, as if they were one; a piece of odd length is continued by the
// next one.
class InternetChecksum {
 public:
  void add(std::span<const std::uint8_t> bytes);
  std::uint16_t finish() const;

 private:
  std::uint64_t sum_ = 0;
  bool odd_ = false;  // the last byte added was the high half of a word
};

std::uint16_t internet_checksum(std::span<const std::uint8_t> bytes);

}  // namespace valdori::packet
