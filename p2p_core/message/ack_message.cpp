#include "p2p_core/message/ack_message.hpp"

#include <fmt/format.h>

#include "p2p_core/message/big_endian.hpp"
#include "p2p_core/message/long_message.hpp"

namespace valdori::p2p::message {
namespace {

constexpr std::size_t kBodyLen = sizeof(std::uint64_t);

}  // namespace

boost::system::result<std::vector<std::uint8_t>, error::Error> AckMessage::build(
    const NetworkId& network_id, const PubKey& sender, Pow pow, const std::optional<crypto::SessionKey>& tx_key,
    const PubKey& recipient, std::uint64_t hello_time) {
  return build_long_message({network_id, sender, pow, recipient, MessageType::ACK}, tx_key, kBodyLen,
                            [&](std::span<std::uint8_t> body) { store_big_endian(body.data(), hello_time); });
}

boost::system::result<AckMessage, error::Error> AckMessage::parse(std::span<std::uint8_t> body,
                                                                  const LongHeader& header,
                                                                  const std::optional<crypto::SessionKey>& rx_key) {
  auto plain = open_long_body(body, header, MessageType::ACK, rx_key);
  if (!plain) return plain.error();
  if (plain->size() != kBodyLen)
    return error::AckMessageConversionFailed{fmt::format("body of {} bytes, expected {}", plain->size(), kBodyLen)};
  return AckMessage(load_big_endian<std::uint64_t>(plain->data()));
}

}  // namespace valdori::p2p::message
