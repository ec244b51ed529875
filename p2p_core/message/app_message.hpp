// APP: application data under a long header (relayed, or direct before a short id is known).
// Body: the payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include <boost/system/result.hpp>

#include "p2p_core/crypto/session_keys.hpp"
#include "p2p_core/identity/keys.hpp"
#include "p2p_core/message/error.hpp"
#include "p2p_core/message/layout.hpp"
#include "p2p_core/message/long_header.hpp"

namespace valdori::p2p::message {

class AppMessage {
 public:
  static boost::system::result<std::vector<std::uint8_t>, error::Error> build(
      const NetworkId& network_id, const PubKey& sender, Pow pow, const std::optional<crypto::SessionKey>& tx_key,
      const PubKey& recipient, std::span<const std::uint8_t> data);
  // As build, into the start of `out`; returns the message length. Allocates nothing.
  static boost::system::result<std::size_t, error::Error> build_into(
      std::span<std::uint8_t> out, const NetworkId& network_id, const PubKey& sender, Pow pow,
      const std::optional<crypto::SessionKey>& tx_key, const PubKey& recipient, std::span<const std::uint8_t> data);
  // Disarms in place when armed.
  static boost::system::result<AppMessage, error::Error> parse(std::span<std::uint8_t> body, const LongHeader& header,
                                                               const std::optional<crypto::SessionKey>& rx_key);

  std::span<const std::uint8_t> payload() const { return payload_; }

 private:
  explicit AppMessage(std::span<const std::uint8_t> payload) : payload_(payload) {}

  std::span<const std::uint8_t> payload_;
};

}  // namespace valdori::p2p::message
