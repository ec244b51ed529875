// The 4-byte id a node chooses for each peer so that the peer's application data can travel with
// a short header. Every datagram of at least four bytes is first looked up as a ShortId, so an id
// must never be all zero (meaning "none assigned") nor equal to the long-header magic.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace valdori::p2p::message {

struct ShortId {
  std::array<std::uint8_t, 4> bytes{};

  // A random id that is valid.
  static ShortId random();
  bool is_valid() const;
  std::string to_string() const;  // 8 lower-case hex digits

  bool operator==(const ShortId&) const = default;
};

}  // namespace valdori::p2p::message

template <>
struct std::hash<valdori::p2p::message::ShortId> {
  std::size_t operator()(const valdori::p2p::message::ShortId& id) const noexcept {
    return std::hash<std::uint32_t>{}(static_cast<std::uint32_t>(id.bytes[0]) << 24 |
                                      static_cast<std::uint32_t>(id.bytes[1]) << 16 |
                                      static_cast<std::uint32_t>(id.bytes[2]) << 8 | id.bytes[3]);
  }
};
