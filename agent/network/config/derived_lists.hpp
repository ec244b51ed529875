// What this node needs of a network's configuration: its access rules, routing list, forwarding
// list and host names, with the policy test they share. Pure functions of the configuration and
// this node's key (the own key).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include <boost/system/result.hpp>
#include <boost/unordered/unordered_flat_map.hpp>
#include <boost/unordered/unordered_flat_set.hpp>

#include "agent/network/config/config_error.hpp"
#include "agent/network/config/effective_access_rule_list.hpp"
#include "agent/network/config/effective_forwarding_list.hpp"
#include "agent/network/config/effective_routing_list.hpp"
#include "agent/network/config/hostname_list.hpp"
#include "agent/network/config/network_config.hpp"

namespace valdori::network::config {

// The policy group that admits every node.
inline constexpr std::string_view kAllGroup = "ALL";

using GroupMembers = boost::unordered_flat_map<std::string, boost::unordered_flat_set<PubKey, std::hash<PubKey>>>;

// The overlay address of the node with `key`, if it is a node.
std::optional<Ipv4Addr> ip(const NetworkConfig& config, const PubKey& key);

// Each group listed by a node, with the keys of the nodes that list it.
GroupMembers groups(const NetworkConfig& config);

// May `a` and `b` talk to each other: always for a key with itself, otherwise when both are nodes
// and a policy admits one on each side (either way round).
bool matching_policy(const NetworkConfig& config, const PubKey& a, const PubKey& b);

// Allow and Deny rules for every peer and route, both directions. Fails with RouteDuplicate when
// a route destination repeats a node's own network on the same side. A key that is no node gets
// an empty list.
boost::system::result<EffectiveAccessRuleList, ConfigError> effective_access_rule_list(const NetworkConfig& config,
                                                                                       const PubKey& own);

// The routes via other nodes that let this node in. Fails with GatewayNotFound for such a route
// whose gateway is no node. A key that is no node gets an empty list.
boost::system::result<EffectiveRoutingList, ConfigError> effective_routing_list(const NetworkConfig& config,
                                                                                const PubKey& own);

// The destinations of the routes this node is the gateway of.
EffectiveForwardingList effective_forwarding_list(const NetworkConfig& config, const PubKey& own);

// This node and every node it may talk to; empty when the key is no node.
HostnameList hostnames(const NetworkConfig& config, const PubKey& own);

}  // namespace valdori::network::config
