#include "p2p_core/message/hello_node_peer_message.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "p2p_core/message/big_endian.hpp"
#include "p2p_core/message/long_message.hpp"

namespace valdori::p2p::message {
namespace {

constexpr std::size_t kTimeLen = sizeof(std::uint64_t);
constexpr std::size_t kBodyLen = kTimeLen + kShortIdLen;

}  // namespace

boost::system::result<std::vector<std::uint8_t>, error::Error> HelloNodePeerMessage::build(
    const NetworkId& network_id, const PubKey& sender, Pow pow, const std::optional<crypto::SessionKey>& tx_key,
    const PubKey& recipient, std::uint64_t time, const ShortId& rx_short_id) {
  if (!rx_short_id.is_valid()) return error::InvalidShortId{};
  return build_long_message({network_id, sender, pow, recipient, MessageType::HELLO}, tx_key, kBodyLen,
                            [&](std::span<std::uint8_t> body) {
                              store_big_endian(body.data(), time);
                              std::ranges::copy(rx_short_id.bytes, body.begin() + kTimeLen);
                            });
}

boost::system::result<HelloNodePeerMessage, error::Error> HelloNodePeerMessage::parse(
    std::span<std::uint8_t> body, const LongHeader& header, const std::optional<crypto::SessionKey>& rx_key) {
  auto plain = open_long_body(body, header, MessageType::HELLO, rx_key);
  if (!plain) return plain.error();
  if (plain->size() != kBodyLen)
    return error::HelloMessageConversionFailed{fmt::format("body of {} bytes, expected {}", plain->size(), kBodyLen)};
  ShortId short_id;
  std::copy_n(plain->begin() + kTimeLen, kShortIdLen, short_id.bytes.begin());
  if (!short_id.is_valid()) return error::InvalidShortId{};
  return HelloNodePeerMessage(load_big_endian<std::uint64_t>(plain->data()), short_id);
}

}  // namespace valdori::p2p::message
