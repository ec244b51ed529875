// What the super peer does with one received message, whatever transport brought it: a HELLO
// addressed to it that authenticates (armed, recent, newer than the sender's last) registers the
// sender and is answered with an ACK; a message addressed to
// another registered node is relayed to it untouched but for the hop count, and the two nodes
// are introduced to each other with UNITEs. Anything else is logged and dropped.
#pragma once

#include <boost/system/result.hpp>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "p2p_core/crypto/error.hpp"
#include "p2p_core/crypto/key_conversion.hpp"
#include "p2p_core/crypto/session_keys.hpp"
#include "p2p_core/identity/identity.hpp"
#include "p2p_core/message/layout.hpp"
#include "p2p_core/message/long_header.hpp"
#include "tools/super_peer/server/node_registry.hpp"
#include "tools/super_peer/server/options.hpp"
#include "tools/super_peer/server/route.hpp"
#include "tools/super_peer/server/unite_limiter.hpp"

namespace valdori::super_peer {

class Dispatcher {
 public:
  // A message that has been relayed this often already is dropped: it is going round in circles.
  static constexpr std::uint8_t kMaxHops = 3;
  // A HELLO whose time is further than this from the super peer's clock is refused.
  static constexpr std::chrono::milliseconds kHelloMaxAge{60'000};

  // Fails only when the identity's secret key has no key-agreement form.
  static boost::system::result<Dispatcher, p2p::crypto::error::Error> create(const p2p::Identity& identity,
                                                                             const SuperPeerOptions& options);

  // The messages to send for `message`, which came by `arrival` (and is changed in place); none
  // when it is dropped.
  std::vector<Outgoing> dispatch(std::span<std::uint8_t> message, const Route& arrival, Clock::time_point now);

 private:
  Dispatcher(const p2p::Identity& identity, const SuperPeerOptions& options, p2p::crypto::X25519PubKey own_kx_pk,
             p2p::crypto::X25519SecKey own_kx_sk);

  std::vector<Outgoing> on_hello(const p2p::message::ParsedLongHeader& parsed, const Route& arrival,
                                 Clock::time_point now);
  std::vector<Outgoing> relay(std::span<const std::uint8_t> message, const p2p::message::LongHeader& header,
                              const Route& arrival, Clock::time_point now);
  // UNITEs that tell each of the two nodes where the other may be reached.
  void introduce(const p2p::PubKey& a, const RegisteredNode& node_a, const p2p::PubKey& b, const RegisteredNode& node_b,
                 Clock::time_point now, std::vector<Outgoing>& out) const;

  std::optional<Route> route_to(const RegisteredNode& node, Clock::time_point now) const;
  boost::system::result<p2p::crypto::SessionKeys, p2p::crypto::error::Error> session_keys_with(
      const p2p::PubKey& pk) const;

  p2p::Identity identity_;
  p2p::message::NetworkId network_id_;
  std::uint8_t min_pow_difficulty_;
  bool unite_enabled_;
  bool arm_messages_;
  p2p::crypto::X25519PubKey own_kx_pk_;
  p2p::crypto::X25519SecKey own_kx_sk_;
  NodeRegistry registry_;
  UniteLimiter unite_limiter_;
};

}  // namespace valdori::super_peer
