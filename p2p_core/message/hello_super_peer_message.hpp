// HELLO to a super peer: keeps the node registered and tells the super peer where else the node
// may be reached. Body: time (u64 big-endian, milliseconds), then the encoded endpoint candidates
// (endpoints.hpp).
#pragma once

#include <cstdint>
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

namespace valdori::p2p::message {

class HelloSuperPeerMessage {
 public:
  // `endpoint_candidates` is an encoded list (encode_endpoints); anything else fails with
  // HelloMessageInvalidEndpoints.
  static boost::system::result<std::vector<std::uint8_t>, error::Error> build(
      const NetworkId& network_id, const PubKey& sender, Pow pow, const std::optional<crypto::SessionKey>& tx_key,
      const PubKey& recipient, std::uint64_t time, std::span<const std::uint8_t> endpoint_candidates);
  static boost::system::result<HelloSuperPeerMessage, error::Error> parse(
      std::span<std::uint8_t> body, const LongHeader& header, const std::optional<crypto::SessionKey>& rx_key);

  std::uint64_t time() const { return time_; }
  const EndpointList& endpoints() const { return endpoints_; }

 private:
  HelloSuperPeerMessage(std::uint64_t time, const EndpointList& endpoints) : time_(time), endpoints_(endpoints) {}

  std::uint64_t time_;
  EndpointList endpoints_;
};

}  // namespace valdori::p2p::message
