#include "p2p_core/message/hello_super_peer_message.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "p2p_core/message/big_endian.hpp"
#include "p2p_core/message/long_message.hpp"

namespace valdori::p2p::message {
namespace {

constexpr std::size_t kTimeLen = sizeof(std::uint64_t);

}  // namespace

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

}  // namespace valdori::p2p::message
