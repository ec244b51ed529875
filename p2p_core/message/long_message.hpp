// What every long-header message shares: a header, then a body that is armed when the peers hold
// session keys. Builders write the plain body where it will be armed, so arming copies nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include <boost/system/result.hpp>

#include "p2p_core/crypto/session_keys.hpp"
#include "p2p_core/message/error.hpp"
#include "p2p_core/message/long_header.hpp"

namespace valdori::p2p::message {

std::size_t long_message_len(std::size_t body_len, bool armed);

// Writes the header into `message` (long_message_len bytes) and returns where the plain body goes.
std::span<std::uint8_t> start_long_message(std::span<std::uint8_t> message, const LongHeaderFields& fields, bool armed);
// Arms the body of a started message in place when a key is given.
boost::system::result<void, error::Error> finish_long_message(std::span<std::uint8_t> message,
                                                              const std::optional<crypto::SessionKey>& tx_key);

// A whole message with a `body_len`-byte plain body that `write_body` fills.
template <class WriteBody>
boost::system::result<std::vector<std::uint8_t>, error::Error> build_long_message(
    const LongHeaderFields& fields, const std::optional<crypto::SessionKey>& tx_key, std::size_t body_len,
    WriteBody&& write_body) {
  std::vector<std::uint8_t> message(long_message_len(body_len, tx_key.has_value()));
  write_body(start_long_message(message, fields, tx_key.has_value()));
  if (auto armed = finish_long_message(message, tx_key); !armed) return armed.error();
  return message;
}

// The plain body of a parsed message of the `expected` type. A peer with a receive key must arm
// its messages and one without cannot; an armed body is disarmed in place.
boost::system::result<std::span<std::uint8_t>, error::Error> open_long_body(
    std::span<std::uint8_t> body, const LongHeader& header, MessageType expected,
    const std::optional<crypto::SessionKey>& rx_key);

}  // namespace valdori::p2p::message
