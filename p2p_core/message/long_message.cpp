#include "p2p_core/message/long_message.hpp"

#include "p2p_core/message/arming.hpp"

namespace valdori::p2p::message {

std::size_t long_message_len(std::size_t body_len, bool armed) {
  return kLongHeaderLen + body_len + (armed ? kArmOverhead : 0);
}

std::span<std::uint8_t> start_long_message(std::span<std::uint8_t> message, const LongHeaderFields& fields,
                                           bool armed) {
  write_long_header(message.first<kLongHeaderLen>(), fields, armed);
  const auto body = message.subspan(kLongHeaderLen);
  return armed ? body.subspan(kArmNonceLen, body.size() - kArmOverhead) : body;
}

boost::system::result<void, error::Error> finish_long_message(std::span<std::uint8_t> message,
                                                              const std::optional<crypto::SessionKey>& tx_key) {
  if (!tx_key) return {};
  const auto ad = long_header_associated_data(message.first<kLongHeaderLen>());
  return arm_in_place(message.subspan(kLongHeaderLen), ad, *tx_key);
}

boost::system::result<std::span<std::uint8_t>, error::Error> open_long_body(
    std::span<std::uint8_t> body, const LongHeader& header, MessageType expected,
    const std::optional<crypto::SessionKey>& rx_key) {
  if (header.message_type() != expected) return error::MessageTypeInvalid{header.message_type().value};
  if (!header.armed()) {
    if (rx_key) return error::ArmedMessageInvalid{};
    return body;
  }
  if (!rx_key) return error::RxKeyNotPresent{};
  return disarm_in_place(body, header.associated_data(), *rx_key);
}

}  // namespace valdori::p2p::message
