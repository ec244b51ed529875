#include "agent/network/config/network_config_reader.hpp"

#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "agent/network/config/hostname_lowercase.hpp"
#include "agent/toml/document.hpp"
#include "agent/toml/field.hpp"
#include "agent/toml/network_values.hpp"

namespace valdori::agent::toml_doc {

using network::config::Groups;
using network::config::NetworkNode;
using network::config::NetworkPolicy;
using network::config::NetworkRoute;

namespace {

using Names = std::vector<std::string>;

// Repeated names collapse silently; names are neither lower-cased nor restricted.
Groups deserialize_groups(Names names) {
  return Groups(std::make_move_iterator(names.begin()), std::make_move_iterator(names.end()));
}

}  // namespace

template <>
struct ValueReader<NetworkNode> {
  static ReadResult<NetworkNode> read(const ::toml::node& node) {
    auto table = read_value<const ::toml::table*>(node);
    if (!table) return table.error();
    auto pk = read_required<p2p::PubKey>(**table, "pk");
    if (!pk) return pk.error();
    auto ip = read_required<util::net::Ipv4Addr>(**table, "ip");
    if (!ip) return ip.error();
    auto hostname = read_required<std::string>(**table, "hostname");
    if (!hostname) return hostname.error();
    auto groups = read_optional<Names>(**table, "groups");
    if (!groups) return groups.error();
    return NetworkNode{*pk, *ip, std::move(*hostname), deserialize_groups(std::move(*groups).value_or(Names{}))};
  }
};

template <>
struct ValueReader<NetworkRoute> {
  static ReadResult<NetworkRoute> read(const ::toml::node& node) {
    auto table = read_value<const ::toml::table*>(node);
    if (!table) return table.error();
    auto dest = read_required<util::net::Ipv4Net>(**table, "dest");
    if (!dest) return dest.error();
    auto gw = read_required<p2p::PubKey>(**table, "gw");
    if (!gw) return gw.error();
    auto groups = read_optional<Names>(**table, "groups");
    if (!groups) return groups.error();
    return NetworkRoute{*dest, *gw, deserialize_groups(std::move(*groups).value_or(Names{}))};
  }
};

template <>
struct ValueReader<NetworkPolicy> {
  static ReadResult<NetworkPolicy> read(const ::toml::node& node) {
    auto table = read_value<const ::toml::table*>(node);
    if (!table) return table.error();
    auto source_groups = read_required<Names>(**table, "source_groups");
    if (!source_groups) return source_groups.error();
    auto destination_groups = read_required<Names>(**table, "destination_groups");
    if (!destination_groups) return destination_groups.error();
    return NetworkPolicy{deserialize_groups(std::move(*source_groups)),
                         deserialize_groups(std::move(*destination_groups))};
  }
};

}  // namespace valdori::agent::toml_doc

namespace valdori::network::config {
namespace {

using agent::toml_doc::error_at;
using agent::toml_doc::read_optional;
using agent::toml_doc::read_required;
using agent::toml_doc::read_value;
using agent::toml_doc::ReadResult;

// Each node costs every member a share of its derived lists and tries: real networks stay well
// below this, and a larger document is refused before its entries are read.
constexpr std::size_t kMaxNodes = 16384;

// Every entry is read before any is compared, so a malformed entry is reported before a
// duplicate one; the first duplicate found ends the read.
ReadResult<NodeMap> deserialize_nodes(const ::toml::node& value) {
  if (const ::toml::array* entries = value.as_array(); entries && entries->size() > kMaxNodes)
    return error_at(value, "more than " + std::to_string(kMaxNodes) + " nodes");
  auto nodes = read_value<std::vector<NetworkNode>>(value);
  if (!nodes) return nodes.error();
  const ::toml::array& entries = *value.as_array();
  NodeMap by_key;
  std::unordered_set<Ipv4Addr> addresses;
  std::unordered_set<std::string> hostnames;
  for (std::size_t i = 0; i < nodes->size(); ++i) {
    NetworkNode& node = (*nodes)[i];
    if (by_key.contains(node.pk)) {
      return error_at(entries[i], "duplicate public key: " + node.pk.to_string());
    }
    if (!addresses.insert(node.ip).second) {
      return error_at(entries[i], "duplicate IP address: " + node.ip.to_string());
    }
    if (!hostnames.insert(lowercase_hostname(node.hostname)).second) {
      return error_at(entries[i], "duplicate hostname: " + node.hostname);
    }
    const PubKey key = node.pk;
    by_key.emplace(key, std::move(node));
  }
  return by_key;
}

ReadResult<RouteMap> deserialize_routes(const ::toml::node& value) {
  auto routes = read_value<std::vector<NetworkRoute>>(value);
  if (!routes) return routes.error();
  const ::toml::array& entries = *value.as_array();
  RouteMap by_dest;
  for (std::size_t i = 0; i < routes->size(); ++i) {
    NetworkRoute& route = (*routes)[i];
    const Ipv4Net dest = route.dest;
    if (!by_dest.emplace(dest, std::move(route)).second) {
      return error_at(entries[i], "duplicate route destination: " + dest.to_string());
    }
  }
  return by_dest;
}

ReadResult<PolicySet> deserialize_policies(const ::toml::node& value) {
  auto policies = read_value<std::vector<NetworkPolicy>>(value);
  if (!policies) return policies.error();
  return PolicySet(std::make_move_iterator(policies->begin()), std::make_move_iterator(policies->end()));
}

// An absent list key reads as an empty collection.
template <class Collection, class Reader>
ReadResult<Collection> read_list(const ::toml::table& table, std::string_view key, Reader reader) {
  const ::toml::node* value = table.get(key);
  if (value == nullptr) return Collection{};
  return reader(*value);
}

}  // namespace

ReadResult<NetworkConfig> read_network_config(const ::toml::table& table) {
  auto id = read_optional<boost::uuids::uuid>(table, "id");
  if (!id) return id.error();
  auto network = read_required<Ipv4Net>(table, "network");
  if (!network) return network.error();
  auto name = read_optional<std::string>(table, "name");
  if (!name) return name.error();
  auto nodes = read_list<NodeMap>(table, "node", deserialize_nodes);
  if (!nodes) return nodes.error();
  auto routes = read_list<RouteMap>(table, "route", deserialize_routes);
  if (!routes) return routes.error();
  auto policies = read_list<PolicySet>(table, "policy", deserialize_policies);
  if (!policies) return policies.error();
  return NetworkConfig{*id, *network, std::move(*name), std::move(*nodes), std::move(*routes), std::move(*policies)};
}

ReadResult<MultiNetworkConfig> parse_multi_network_config(std::string_view text) {
  auto document = agent::toml_doc::parse_document(text);
  if (!document) return document.error();
  auto entries = read_required<const ::toml::array*>(*document, "network");
  if (!entries) return entries.error();
  MultiNetworkConfig multi;
  multi.network.reserve((*entries)->size());
  for (const ::toml::node& entry : **entries) {
    auto table = read_value<const ::toml::table*>(entry);
    if (!table) return table.error();
    auto config = read_network_config(**table);
    if (!config) return config.error();
    multi.network.push_back(std::move(*config));
  }
  return multi;
}

}  // namespace valdori::network::config
