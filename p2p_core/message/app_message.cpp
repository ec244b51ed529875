#include "p2p_core/message/app_message.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "p2p_core/message/long_message.hpp"

namespace valdori::p2p::message {

boost::system::result<std::vector<std::uint8_t>, error::Error> AppMessage::build(
    const NetworkId& network_id, const PubKey& sender, Pow pow, const std::optional<crypto::SessionKey>& tx_key,
    const PubKey& recipient, std::span<const std::uint8_t> data) {
  return build_long_message({network_id, sender, pow, recipient, MessageType::APP}, tx_key, data.size(),
                            [&](std::span<std::uint8_t> body) { std::ranges::copy(data, body.begin()); });
}

boost::system::result<std::size_t, error::Error> AppMessage::build_into(
    std::span<std::uint8_t> out, const NetworkId& network_id, const PubKey& sender, Pow pow,
    const std::optional<crypto::SessionKey>& tx_key, const PubKey& recipient, std::span<const std::uint8_t> data) {
  const std::size_t length = long_message_len(data.size(), tx_key.has_value());
  if (out.size() < length)
    return error::WriteAppMessageFailed{fmt::format("{} bytes of room for a {}-byte message", out.size(), length)};
  const auto message = out.first(length);
  const auto body =
      start_long_message(message, {network_id, sender, pow, recipient, MessageType::APP}, tx_key.has_value());
  std::ranges::copy(data, body.begin());
  if (auto armed = finish_long_message(message, tx_key); !armed) return armed.error();
  return length;
}

boost::system::result<AppMessage, error::Error> AppMessage::parse(std::span<std::uint8_t> body,
                                                                  const LongHeader& header,
                                                                  const std::optional<crypto::SessionKey>& rx_key) {
  auto plain = open_long_body(body, header, MessageType::APP, rx_key);
  if (!plain) return plain.error();
  return AppMessage(*plain);
}

}  // namespace valdori::p2p::message
