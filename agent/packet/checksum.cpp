#include "agent/packet/checksum.hpp"

#include <cstddef>

namespace valdori::packet {

void InternetChecksum::add(std::span<const std::uint8_t> bytes) {
  std::size_t i = 0;
  if (odd_ && !bytes.empty()) {
    sum_ += bytes[0];
    odd_ = false;
    i = 1;
  }
  for (; i + 1 < bytes.size(); i += 2) sum_ += std::uint64_t{bytes[i]} << 8 | bytes[i + 1];
  if (i < bytes.size()) {
    sum_ += std::uint64_t{bytes[i]} << 8;
    odd_ = true;
  }
}

std::uint16_t InternetChecksum::finish() const {
  std::uint64_t sum = sum_;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

std::uint16_t internet_checksum(std::span<const std::uint8_t> bytes) {
  InternetChecksum checksum;
  checksum.add(bytes);
  return checksum.finish();
}

}  // namespace valdori::packet
