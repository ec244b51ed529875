// The long-header control messages: HELLO between node peers and to a super peer, the ACK that
// answers a HELLO, and the UNITE by which a super peer introduces two nodes.
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
#include "p2p_core/message/short_header.hpp"
#include "p2p_core/net/socket_addr.hpp"

namespace valdori::p2p::message {

// HELLO between node peers keeps a path alive and tells the peer which short id to use towards
// the sender. Body: time (u64 big-endian, milliseconds), then the sender's receive ShortId.
class HelloNodePeerMessage {
 public:
  // Fails with InvalidShortId for an id no peer may use (all zero, or the magic).
  static boost::system::result<std::vector<std::uint8_t>, error::Error> build(
      const NetworkId& network_id, const PubKey& sender, Pow pow, const std::optional<crypto::SessionKey>& tx_key,
      const PubKey& recipient, std::uint64_t time, const ShortId& rx_short_id);
  static boost::system::result<HelloNodePeerMessage, error::Error> parse(
      std::span<std::uint8_t> body, const LongHeader& header, const std::optional<crypto::SessionKey>& rx_key);

  std::uint64_t time() const { return time_; }
  const ShortId& short_id() const { return short_id_; }

 private:
  HelloNodePeerMessage(std::uint64_t time, const ShortId& short_id) : time_(time), short_id_(short_id) {}

  std::uint64_t time_;
  ShortId short_id_;
};

// HELLO to a super peer keeps the node registered and tells the super peer where else the node
// may be reached. Body: time (u64 big-endian, milliseconds), then the encoded endpoint candidates
// (endpoints.hpp).
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

// ACK answers a HELLO. Body: the HELLO's time, echoed (u64 big-endian, milliseconds).
class AckMessage {
 public:
  static boost::system::result<std::vector<std::uint8_t>, error::Error> build(
      const NetworkId& network_id, const PubKey& sender, Pow pow, const std::optional<crypto::SessionKey>& tx_key,
      const PubKey& recipient, std::uint64_t hello_time);
  static boost::system::result<AckMessage, error::Error> parse(std::span<std::uint8_t> body, const LongHeader& header,
                                                               const std::optional<crypto::SessionKey>& rx_key);

  std::uint64_t time() const { return time_; }

 private:
  explicit AckMessage(std::uint64_t time) : time_(time) {}

  std::uint64_t time_;
};

// UNITE: a super peer tells a node where another node may be reached directly. Body: the other
// node's public key, then its encoded endpoints (endpoints.hpp).
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
