// Short-header messages: application data on a direct path, addressed by the ShortId the
// receiver chose for the sender. Layout: the ShortId, then the payload, armed with the ShortId as
// associated data when the peers hold session keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include <boost/system/result.hpp>

#include "p2p_core/crypto/session_keys.hpp"
#include "p2p_core/message/error.hpp"
#include "p2p_core/message/short_id.hpp"

namespace valdori::p2p::message {

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
