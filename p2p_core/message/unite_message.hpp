// UNITE: a super peer tells a node where another node may be reached directly.
// Body: the other node's public key, then its encoded endpoints (endpoints.hpp).
#pragma once

#include <optional>
#include <span>
#include <vector>

#include <boost/system/result.hpp>

#include "p2p_core/crypto/session_keys.hpp"
#include "p2p_core/identity/keys.hpp"
#include "p2p_core/message/endpoints.hpp"
#include "p2p_core/message/error.hpp"
#include "p2p_core/message/layout.hpp"
#include "p2p_core/message/long_header.hpp"
#include "p2p_core/net/socket_addr.hpp"

namespace valdori::p2p::message {

class UniteMessage {
 public:
  // Carries the first kMaxEndpoints usable endpoints.
  static boost::system::result<std::vector<std::uint8_t>, error::Error> build(
      const NetworkId& network_id, const PubKey& sender, Pow pow, const std::optional<crypto::SessionKey>& tx_key,
      const PubKey& recipient, const PubKey& peer, std::span<const net::SocketAddr> endpoints);
  static boost::system::result<UniteMessage, error::Error> parse(std::span<std::uint8_t> body, const LongHeader& header,
                                                                 const std::optional<crypto::SessionKey>& rx_key);

  const PubKey& peer() const { return peer_; }
  const EndpointList& endpoints() const { return endpoints_; }

 private:
  UniteMessage(const PubKey& peer, const EndpointList& endpoints) : peer_(peer), endpoints_(endpoints) {}

  PubKey peer_;
  EndpointList endpoints_;
};

}  // namespace valdori::p2p::message
