// HELLO between node peers: keeps a path alive and tells the peer which short id to use towards
// the sender. Body: time (u64 big-endian, milliseconds), then the sender's receive ShortId.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include <boost/system/result.hpp>

#include "p2p_core/crypto/session_keys.hpp"
#include "p2p_core/identity/keys.hpp"
#include "p2p_core/message/error.hpp"
#include "p2p_core/message/layout.hpp"
#include "p2p_core/message/long_header.hpp"
#include "p2p_core/message/short_id.hpp"

namespace valdori::p2p::message {

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

}  // namespace valdori::p2p::message
