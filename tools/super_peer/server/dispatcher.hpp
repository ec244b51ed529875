// What the super peer does with one received message, whatever transport brought it: a HELLO
// addressed to it that authenticates (armed, recent, not seen before) registers the sender and
// is answered with an ACK; a message addressed to another registered node is relayed to it
// untouched but for the hop count, and the two nodes are introduced to each other with UNITEs.
// Anything else is logged and dropped.
//
// A HELLO from a key not registered costs a key agreement before its body can authenticate;
// agreements are cached per key, failed bodies or not, and those not cached are rate-limited
// per source address, so that strangers cost about what junk costs.
#pragma once

#include <boost/system/result.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "p2p_core/crypto/error.hpp"
#include "p2p_core/crypto/session_keys.hpp"
#include "p2p_core/identity/identity.hpp"
#include "p2p_core/message/layout.hpp"
#include "p2p_core/message/long_header.hpp"
#include "p2p_core/net/source_rate_limiter.hpp"
#include "p2p_core/peer/agreement_cache.hpp"
#include "p2p_core/peer/hello_times.hpp"
#include "p2p_core/peer/session_keys.hpp"
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
  // Key agreements kept for keys not registered (about 200 bytes each).
  static constexpr std::size_t kCachedAgreements = 4096;
  // Agreements with keys not cached that one source address may ask for: a burst, then one per
  // interval. One costs some 70 µs, so a source at this rate takes a few thousandths of a core.
  static constexpr std::uint32_t kAgreementBurst = 32;
  static constexpr std::uint64_t kAgreementIntervalMs = 20;
  // Source addresses whose agreements or registrations are counted.
  static constexpr std::size_t kCountedSources = 4096;
  // Senders whose HELLO times are kept against replays, per registered node: room for the
  // registered nodes and for those that left the registry within the last minute.
  static constexpr std::size_t kHelloSendersPerNode = 4;

  // Fails only when the identity's secret key has no key-agreement form.
  static boost::system::result<std::unique_ptr<Dispatcher>, p2p::crypto::error::Error> create(
      const p2p::Identity& identity, const SuperPeerOptions& options);

  // The messages to send for `message`, which came by `arrival` (and is changed in place); none
  // when it is dropped.
  std::vector<Outgoing> dispatch(std::span<std::uint8_t> message, const Route& arrival, Clock::time_point now);

 private:
  Dispatcher(const p2p::Identity& identity, const SuperPeerOptions& options, const p2p::peer::AgreementKeys& own);

  std::vector<Outgoing> on_hello(const p2p::message::ParsedLongHeader& parsed, const Route& arrival,
                                 Clock::time_point now);
  std::vector<Outgoing> relay(std::span<const std::uint8_t> message, const p2p::message::LongHeader& header,
                              const Route& arrival, Clock::time_point now);
  // UNITEs that tell each of the two nodes where the other may be reached.
  void introduce(const p2p::PubKey& a, const RegisteredNode& node_a, const p2p::PubKey& b, const RegisteredNode& node_b,
                 Clock::time_point now, std::vector<Outgoing>& out) const;
  // The session keys with a key not registered, agreed on or cached; none when its source has
  // asked for too many agreements.
  std::optional<p2p::peer::Agreement> agreement_with(const p2p::PubKey& pk, const Route& arrival,
                                                     Clock::time_point now);
  // Whether a HELLO of `pk`, not registered, may register it now.
  bool may_register(const p2p::PubKey& pk, const Route& arrival, Clock::time_point now);

  p2p::Identity identity_;
  p2p::message::NetworkId network_id_;
  std::uint8_t min_pow_difficulty_;
  bool unite_enabled_;
  bool arm_messages_;
  p2p::peer::AgreementCache agreements_;
  p2p::net::SourceRateLimiter agreement_limiter_;
  // Kept apart from the registry: forgetting a node there forgets none of its HELLO times.
  p2p::peer::HelloReplayWindow hello_times_;
  NodeRegistry registry_;
  p2p::net::SourceRateLimiter registration_limiter_;
  UniteLimiter unite_limiter_;
};

}  // namespace valdori::super_peer
