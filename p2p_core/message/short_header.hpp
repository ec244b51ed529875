// Short-header messages: application data on a direct path, addressed by the ShortId the
// receiver chose for the sender. Layout: the ShortId, then the payload, armed with the ShortId as
// associated data when the peers hold session keys.
//
// A node chooses a ShortId for each peer. Every datagram of at least four bytes is first looked up
// as a ShortId, so an id must never be all zero (meaning "none assigned") nor equal to the
// long-header magic.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <boost/system/result.hpp>

#include "p2p_core/crypto/session_keys.hpp"
#include "p2p_core/message/error.hpp"

namespace valdori::p2p::message {

struct ShortId {
  std::array<std::uint8_t, 4> bytes{};

  // A random id that is valid.
  static ShortId random();
  bool is_valid() const;
  std::string to_string() const;  // 8 lower-case hex digits

  bool operator==(const ShortId&) const = default;
};

class ShortHeader {
 public:
  // Fails with InvalidShortId for an id no peer may use.
  static boost::system::result<std::vector<std::uint8_t>, error::Error> build(
      const ShortId& short_id, const std::optional<crypto::SessionKey>& tx_key, std::span<const std::uint8_t> data);
  // As build, into the start of `out`; returns the message length. Allocates nothing.
  static boost::system::result<std::size_t, error::Error> build_into(std::span<std::uint8_t> out,
                                                                     const ShortId& short_id,
                                                                     const std::optional<crypto::SessionKey>& tx_key,
                                                                     std::span<const std::uint8_t> data);
  // The payload of a whole message; with a receive key the message must be armed and is
  // disarmed in place.
  static boost::system::result<std::span<const std::uint8_t>, error::Error> parse(
      std::span<std::uint8_t> message, const std::optional<crypto::SessionKey>& rx_key);
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
