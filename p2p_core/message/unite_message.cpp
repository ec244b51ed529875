#include "p2p_core/message/unite_message.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "p2p_core/message/long_message.hpp"

namespace valdori::p2p::message {

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
