// The four bytes that open every long-header message.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace valdori::p2p::message {

struct MagicNumber {
  std::array<std::uint8_t, 4> bytes;

  bool operator==(const MagicNumber&) const = default;
};

inline constexpr MagicNumber kMagicNumber{{0x1E, 0x3F, 0x50, 0x01}};

// "MagicNumber([30, 63, 80, 1])".
std::string debug(const MagicNumber& magic);

}  // namespace valdori::p2p::message
