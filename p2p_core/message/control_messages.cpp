#include "p2p_core/message/control_messages.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "p2p_core/message/layout.hpp"
#include "p2p_core/message/long_message.hpp"

namespace valdori::p2p::message {
namespace {

constexpr std::size_t kTimeLen = sizeof(std::uint64_t);
constexpr std::size_t kHelloNodePeerBodyLen = kTimeLen + kShortIdLen;
constexpr std::size_t kAckBodyLen = kTimeLen;

}  // namespace

boost::system::result<std::vector<std::uint8_t>, error::Error> HelloNodePeerMessage::build(
    const NetworkId& network_id, const PubKey& sender, Pow pow, const std::optional<crypto::SessionKey>& tx_key,
    const PubKey& recipient, std::uint64_t time, const ShortId& rx_short_id) {
  if (!rx_short_id.is_valid()) return error::InvalidShortId{};
  return build_long_message({network_id, sender, pow, recipient, MessageType::HELLO}, tx_key, kHelloNodePeerBodyLen,
                            [&](std::span<std::uint8_t> body) {
                              store_big_endian(body.data(), time);
                              std::ranges::copy(rx_short_id.bytes, body.begin() + kTimeLen);
                            });
}

boost::system::result<HelloNodePeerMessage, error::Error> HelloNodePeerMessage::parse(
    std::span<std::uint8_t> body, const LongHeader& header, const std::optional<crypto::SessionKey>& rx_key) {
  auto plain = open_long_body(body, header, MessageType::HELLO, rx_key);
  if (!plain) return plain.error();
  if (plain->size() != kHelloNodePeerBodyLen)
    return error::HelloMessageConversionFailed{
        fmt::format("body of {} bytes, expected {}", plain->size(), kHelloNodePeerBodyLen)};
  ShortId short_id;
  std::copy_n(plain->begin() + kTimeLen, kShortIdLen, short_id.bytes.begin());
  if (!short_id.is_valid()) return error::InvalidShortId{};
  return HelloNodePeerMessage(load_big_endian<std::uint64_t>(plain->data()), short_id);
}

boost::system::result<std::vector<std::uint8_t>, error::Error> HelloSuperPeerMessage::build(
    const NetworkId& network_id, const PubKey& sender, Pow pow, const std::optional<crypto::SessionKey>& tx_key,
    const PubKey& recipient, std::uint64_t time, std::span<const std::uint8_t> endpoint_candidates) {
  if (!EndpointList::parse(endpoint_candidates)) return error::HelloMessageInvalidEndpoints{};
  return build_long_message({network_id, sender, pow, recipient, MessageType::HELLO}, tx_key,
                            kTimeLen + endpoint_candidates.size(), [&](std::span<std::uint8_t> body) {
                              store_big_endian(body.data(), time);
                              std::ranges::copy(endpoint_candidates, body.begin() + kTimeLen);
                            });
}

boost::system::result<HelloSuperPeerMessage, error::Error> HelloSuperPeerMessage::parse(
    std::span<std::uint8_t> body, const LongHeader& header, const std::optional<crypto::SessionKey>& rx_key) {
  auto plain = open_long_body(body, header, MessageType::HELLO, rx_key);
  if (!plain) return plain.error();
  if (plain->size() < kTimeLen)
    return error::HelloMessageConversionFailed{fmt::format("body of {} bytes holds no time", plain->size())};
  auto endpoints = EndpointList::parse(plain->subspan(kTimeLen));
  if (!endpoints) return endpoints.error();
  return HelloSuperPeerMessage(load_big_endian<std::uint64_t>(plain->data()), *endpoints);
}

boost::system::result<std::vector<std::uint8_t>, error::Error> AckMessage::build(
    const NetworkId& network_id, const PubKey& sender, Pow pow, const std::optional<crypto::SessionKey>& tx_key,
    const PubKey& recipient, std::uint64_t hello_time) {
  return build_long_message({network_id, sender, pow, recipient, MessageType::ACK}, tx_key, kAckBodyLen,
                            [&](std::span<std::uint8_t> body) { store_big_endian(body.data(), hello_time); });
}

boost::system::result<AckMessage, error::Error> AckMessage::parse(std::span<std::uint8_t> body,
                                                                  const LongHeader& header,
                                                                  const std::optional<crypto::SessionKey>& rx_key) {
  auto plain = open_long_body(body, header, MessageType::ACK, rx_key);
  if (!plain) return plain.error();
  if (plain->size() != kAckBodyLen)
    return error::AckMessageConversionFailed{fmt::format("body of {} bytes, expected {}", plain->size(), kAckBodyLen)};
  return AckMessage(load_big_endian<std::uint64_t>(plain->data()));
}

boost::system::result<std::vector<std::uint8_t>, error::Error> UniteMessage::build(
    const NetworkId& network_id, const PubKey& sender, Pow pow, const std::optional<crypto::SessionKey>& tx_key,
    const PubKey& recipient, const PubKey& peer, std::span<const net::SocketAddr> endpoints) {
  const auto encoded = encode_endpoints(endpoints);
  return build_long_message({network_id, sender, pow, recipient, MessageType::UNITE}, tx_key,
                            kPubKeyBytes + encoded.size(), [&](std::span<std::uint8_t> body) {
                              std::ranges::copy(peer.bytes(), body.begin());
                              std::ranges::copy(encoded, body.begin() + kPubKeyBytes);
                            });
}

boost::system::result<UniteMessage, error::Error> UniteMessage::parse(std::span<std::uint8_t> body,
                                                                      const LongHeader& header,
                                                                      const std::optional<crypto::SessionKey>& rx_key) {
  auto plain = open_long_body(body, header, MessageType::UNITE, rx_key);
  if (!plain) return plain.error();
  if (plain->size() < kPubKeyBytes)
    return error::UniteMessageInvalid{fmt::format("body of {} bytes holds no peer key", plain->size())};
  auto endpoints = EndpointList::parse(plain->subspan(kPubKeyBytes));
  if (!endpoints) return endpoints.error();
  return UniteMessage(PubKey::from_bytes(plain->first(kPubKeyBytes)), *endpoints);
}

}  // namespace valdori::p2p::message
