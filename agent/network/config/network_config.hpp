// One overlay network's configuration document in memory: its subnet, member nodes, routes to
// subnets behind member nodes, and the group policies. Maps and sets have no defined order;
// consumers that need one sort.
#pragma once

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <boost/system/result.hpp>
#include <boost/uuid/uuid.hpp>

#include "agent/network/config/config_error.hpp"
#include "p2p_core/identity/keys.hpp"
#include "util/net/ipv4_net.hpp"

namespace valdori::network::config {

using p2p::PubKey;
using util::net::Ipv4Addr;
using util::net::Ipv4Net;

// Group names, compared exactly (case-sensitive); "ALL" is a wildcard only to policy matching.
using Groups = std::set<std::string>;

struct NetworkNode {
  PubKey pk;
  Ipv4Addr ip;
  std::string hostname;  // as written; comparisons use its lower-cased form
  Groups groups;

  bool operator==(const NetworkNode&) const = default;
};

struct NetworkRoute {
  Ipv4Net dest;
  PubKey gw;
  Groups groups;  // empty: everybody may use the route

  bool operator==(const NetworkRoute&) const = default;
};

struct NetworkPolicy {
  Groups source_groups;
  Groups destination_groups;

  bool operator==(const NetworkPolicy&) const = default;
};

// Equal policies hash equally: each group in ascending byte order, followed by one 0xFF byte,
// source groups first. Different policies may collide; equality decides.
struct NetworkPolicyHash {
  std::size_t operator()(const NetworkPolicy& policy) const noexcept;
};

using NodeMap = std::unordered_map<PubKey, NetworkNode>;
using RouteMap = std::unordered_map<Ipv4Net, NetworkRoute>;
using PolicySet = std::unordered_set<NetworkPolicy, NetworkPolicyHash>;

struct NetworkConfig {
  std::optional<boost::uuids::uuid> id;
  Ipv4Net network;  // may carry host bits; checks use the masked network
  std::optional<std::string> name;
  NodeMap node;    // each node under its own `pk`
  RouteMap route;  // each route under its own `dest`
  PolicySet policy;

  // Reads a single-network document and checks its nodes and routes against the subnet.
  static boost::system::result<NetworkConfig, ConfigError> try_from(std::string_view text);

  bool operator==(const NetworkConfig&) const = default;
};

// The controller's document: every network this node belongs to, in document order. Its entries
// are read but not checked like `NetworkConfig::try_from` does.
struct MultiNetworkConfig {
  std::vector<NetworkConfig> network;

  bool operator==(const MultiNetworkConfig&) const = default;
};

}  // namespace valdori::network::config
