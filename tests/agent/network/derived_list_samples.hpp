// Small builders for network configurations in tests of the derived lists.
#pragma once

#include <cstdint>
#include <vector>

#include "agent/network/config/effective_access_rule_list.hpp"
#include "agent/network/config/network_config.hpp"

namespace valdori::network::config::samples {

inline Ipv4Net net(const char* text) { return *Ipv4Net::parse(text); }
inline Ipv4Addr addr(const char* text) { return *util::net::parse_ipv4_addr(text); }

// A key whose 32 bytes all equal `n`; its text is 64 hex digits of n.
inline PubKey key(std::uint8_t n) {
  PubKey::Bytes bytes;
  bytes.fill(n);
  return PubKey(bytes);
}

inline NetworkNode node(std::uint8_t n, const char* ip, const char* hostname, Groups groups = {}) {
  return {key(n), addr(ip), hostname, std::move(groups)};
}

inline NetworkRoute route(const char* dest, std::uint8_t gw, Groups groups = {}) {
  return {net(dest), key(gw), std::move(groups)};
}

inline NetworkConfig config(const std::vector<NetworkNode>& nodes, const std::vector<NetworkRoute>& routes = {},
                            const std::vector<NetworkPolicy>& policies = {}) {
  NetworkConfig c;
  c.network = net("10.0.0.0/24");
  for (const auto& n : nodes) c.node.emplace(n.pk, n);
  for (const auto& r : routes) c.route.emplace(r.dest, r);
  for (const auto& p : policies) c.policy.insert(p);
  return c;
}

inline EffectiveAccessRuleList rules_of(const std::vector<EffectiveAccessRule>& rules) {
  EffectiveAccessRuleList list;
  for (const auto& r : rules) list.rules.emplace(EffectiveAccessRuleListEntryKey::of(r), r);
  return list;
}

inline const NetworkNode kMeNode = node(1, "10.0.0.1", "me", {"dev"});
inline const NetworkNode kAlpha = node(2, "10.0.0.2", "alpha", {"dev"});
inline const NetworkNode kBeta = node(3, "10.0.0.3", "beta", {"ops"});

}  // namespace valdori::network::config::samples
