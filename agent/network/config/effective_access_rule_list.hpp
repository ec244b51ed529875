// The access rules of one network for this node: per peer and per route, whether traffic between
// this node (or a subnet it serves) and that peer may pass in each direction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include <boost/container_hash/hash.hpp>
#include <boost/unordered/unordered_flat_map.hpp>

#include "agent/network/config/routing_tries.hpp"
#include "p2p_core/identity/keys.hpp"
#include "util/net/ipv4_net.hpp"

namespace valdori::network::config {

using p2p::PubKey;
using util::net::Ipv4Net;

// IN: arrives from the overlay for this node or a subnet it serves; OUT: goes into the overlay.
enum class Direction : std::uint8_t { IN = 0, OUT = 1 };

enum class Action : std::uint8_t { Allow = 0, Deny = 1 };

struct EffectiveAccessRule {
  Direction direction = Direction::IN;
  Ipv4Net source;
  Ipv4Net dest;
  PubKey pk;  // the peer that sends or receives this traffic
  Action action = Action::Deny;

  bool operator==(const EffectiveAccessRule&) const = default;
};

struct EffectiveAccessRuleListEntryKey {
  Direction direction = Direction::IN;
  Ipv4Net source;
  Ipv4Net dest;

  static EffectiveAccessRuleListEntryKey of(const EffectiveAccessRule& rule) {
    return {rule.direction, rule.source, rule.dest};
  }

  bool operator==(const EffectiveAccessRuleListEntryKey&) const = default;
};

}  // namespace valdori::network::config

template <>
struct std::hash<valdori::network::config::EffectiveAccessRuleListEntryKey> {
  std::size_t operator()(const valdori::network::config::EffectiveAccessRuleListEntryKey& key) const noexcept {
    std::size_t seed = 0;
    boost::hash_combine(seed, static_cast<std::uint8_t>(key.direction));
    boost::hash_combine(seed, std::hash<valdori::util::net::Ipv4Net>{}(key.source));
    boost::hash_combine(seed, std::hash<valdori::util::net::Ipv4Net>{}(key.dest));
    return seed;
  }
};

namespace valdori::network::config {

// Holds Deny rules as well as Allow rules; no two rules share a key. Compared by content.
struct EffectiveAccessRuleList {
  using Map = boost::unordered_flat_map<EffectiveAccessRuleListEntryKey, EffectiveAccessRule,
                                        std::hash<EffectiveAccessRuleListEntryKey>>;
  Map rules;

  // The allowed rules as the firewall's tries; Deny rules enter neither.
  RoutingTries routing_tries() const;

  bool operator==(const EffectiveAccessRuleList&) const = default;
};

}  // namespace valdori::network::config
