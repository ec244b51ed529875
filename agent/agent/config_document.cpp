#include "agent/agent/config_document.hpp"

#include <algorithm>
#include <array>
#include <iterator>
#include <ranges>
#include <span>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "agent/toml/field.hpp"
#include "agent/toml/identity_values.hpp"
#include "agent/toml/network_values.hpp"
#include "util/url/mask_url.hpp"

namespace valdori::agent {
namespace {

using toml_doc::read_optional;
using toml_doc::read_required;
using toml_doc::ReadResult;

ReadResult<DnsConfig> read_dns(const ::toml::table& table) {
  auto disabled = read_optional<bool>(table, "disabled");
  if (!disabled) return disabled.error();
  return DnsConfig{*disabled};
}

// The controller table's keys, each an optional string: read, written and known from this list.
constexpr std::pair<std::string_view, std::optional<std::string> ControllerConfig::*> kControllerFields[] = {
    {"url", &ControllerConfig::url},
    {"auth_url", &ControllerConfig::auth_url},
    {"display_login_email", &ControllerConfig::display_login_email},
    {"shared_secret", &ControllerConfig::shared_secret},
};

ReadResult<ControllerConfig> read_controller(const ::toml::table& table) {
  ControllerConfig controller;
  for (const auto& [key, member] : kControllerFields) {
    auto value = read_optional<std::string>(table, key);
    if (!value) return value.error();
    controller.*member = std::move(*value);
  }
  return controller;
}

// An optional table read by `read`; absent when the key is.
template <class T, class Reader>
ReadResult<std::optional<T>> read_optional_table(const ::toml::table& document, std::string_view key, Reader read) {
  auto table = read_optional<const ::toml::table*>(document, key);
  if (!table) return table.error();
  if (!*table) return std::optional<T>{};
  auto value = read(***table);
  if (!value) return value.error();
  return std::optional<T>{std::move(*value)};
}

struct ReadNetwork {
  network::Network network;
  const ::toml::node* url_node;  // where a bad or repeated URL is reported
};

ReadResult<ReadNetwork> read_network(const ::toml::node& node) {
  auto table = toml_doc::read_value<const ::toml::table*>(node);
  if (!table) return table.error();
  auto config_url = read_required<std::string>(**table, "config_url");
  if (!config_url) return config_url.error();
  auto disabled = read_optional<bool>(**table, "disabled");
  if (!disabled) return disabled.error();
  auto name = read_optional<std::string>(**table, "name");
  if (!name) return name.error();
  ReadNetwork read{{}, (*table)->get("config_url")};
  read.network.config_url = std::move(*config_url);
  read.network.disabled = disabled->value_or(false);
  read.network.name = std::move(*name);
  return read;
}

void write_network(toml_doc::DocumentWriter& writer, const network::Network& network) {
  writer.array_table("network");
  writer.string("config_url", network.config_url);
  writer.boolean("disabled", network.disabled);
  if (network.name) writer.string("name", *network.name);
}

void write_controller(toml_doc::DocumentWriter& writer, const ControllerConfig& controller) {
  writer.table("controller");
  for (const auto& [key, member] : kControllerFields) {
    if (controller.*member) writer.string(key, *(controller.*member));
  }
}

// The keys each part of the document is read from; the controller's are those of its field list.
constexpr std::string_view kTopLevelKeys[] = {"network",      "mtu",      "super_peers", "update_check",
                                              "auto_connect", "identity", "dns",         "controller"};
constexpr std::string_view kIdentityKeys[] = {"sk", "pow"};
constexpr std::string_view kNetworkKeys[] = {"config_url", "disabled", "name"};
constexpr std::string_view kDnsKeys[] = {"disabled"};
constexpr auto kControllerKeys = [] {
  std::array<std::string_view, std::size(kControllerFields)> keys{};
  std::ranges::copy(kControllerFields | std::views::keys, keys.begin());
  return keys;
}();

void add_unknown_keys(const ::toml::table& table, std::span<const std::string_view> known, std::string_view where,
                      std::vector<UnknownKey>& unknown) {
  for (const auto& [key, value] : table) {
    if (std::find(known.begin(), known.end(), key.str()) == known.end()) {
      unknown.push_back({std::string(key.str()), std::string(where), key.source().begin});
    }
  }
}

}  // namespace

std::vector<UnknownKey> unknown_keys(const ::toml::table& document) {
  std::vector<UnknownKey> unknown;
  add_unknown_keys(document, kTopLevelKeys, "", unknown);
  const std::pair<const char*, std::span<const std::string_view>> tables[] = {
      {"identity", kIdentityKeys}, {"dns", kDnsKeys}, {"controller", kControllerKeys}};
  for (const auto& [name, known] : tables) {
    if (const auto* table = document.get_as<::toml::table>(name)) {
      add_unknown_keys(*table, known, fmt::format("[{}]", name), unknown);
    }
  }
  if (const auto* networks = document.get_as<::toml::array>("network")) {
    for (const ::toml::node& element : *networks) {
      if (const auto* table = element.as_table()) add_unknown_keys(*table, kNetworkKeys, "[[network]]", unknown);
    }
  }
  // Tables keep their keys sorted by name, not as written.
  std::sort(unknown.begin(), unknown.end(), [](const UnknownKey& a, const UnknownKey& b) {
    return std::tie(a.position.line, a.position.column) < std::tie(b.position.line, b.position.column);
  });
  return unknown;
}

ReadResult<NetworkMap> deserialize_networks(const ::toml::node& value) {
  // Every table is read before any URL is parsed, so a table error wins over a URL error.
  auto array = toml_doc::read_value<const ::toml::array*>(value);
  if (!array) return array.error();
  std::vector<ReadNetwork> read;
  read.reserve((*array)->size());
  for (const ::toml::node& element : **array) {
    auto network = read_network(element);
    if (!network) return network.error();
    read.push_back(std::move(*network));
  }
  NetworkMap networks;
  for (ReadNetwork& entry : read) {
    auto url = util::Url::parse(entry.network.config_url);
    if (!url) return toml_doc::error_at(*entry.url_node, url.error().message);
    const std::string shown = util::mask_url(*url);
    if (!networks.emplace(std::move(*url), std::move(entry.network)).second) {
      return toml_doc::error_at(*entry.url_node, "duplicate network URL: " + shown);
    }
  }
  return networks;
}

ReadResult<AgentConfig> read_agent_config(const ::toml::table& document) {
  auto identity = read_required<p2p::Identity>(document, "identity");
  if (!identity) return identity.error();
  AgentConfig config(std::move(*identity));

  if (const ::toml::node* networks_node = document.get("network")) {
    auto networks = deserialize_networks(*networks_node);
    if (!networks) return networks.error();
    config.networks = std::move(*networks);
  }
  auto mtu = read_optional<std::uint16_t>(document, "mtu");
  if (!mtu) return mtu.error();
  config.mtu = *mtu;
  auto super_peers = read_optional<std::vector<p2p::SuperPeerUrl>>(document, "super_peers");
  if (!super_peers) return super_peers.error();
  config.super_peers = std::move(*super_peers);
  auto update_check = read_optional<bool>(document, "update_check");
  if (!update_check) return update_check.error();
  config.update_check = *update_check;
  auto auto_connect = read_optional<bool>(document, "auto_connect");
  if (!auto_connect) return auto_connect.error();
  config.auto_connect = *auto_connect;
  auto dns = read_optional_table<DnsConfig>(document, "dns", read_dns);
  if (!dns) return dns.error();
  config.dns = *dns;
  auto controller = read_optional_table<ControllerConfig>(document, "controller", read_controller);
  if (!controller) return controller.error();
  config.controller = std::move(*controller);
  return config;
}

boost::system::result<std::string, toml_doc::WriteError> write_agent_config(const AgentConfig& config) {
  toml_doc::DocumentWriter writer;
  if (config.networks.empty()) writer.string_array("network", {});
  if (config.mtu) writer.integer("mtu", *config.mtu);
  if (config.super_peers) {
    std::vector<std::string> texts;
    texts.reserve(config.super_peers->size());
    for (const p2p::SuperPeerUrl& peer : *config.super_peers) texts.push_back(peer.to_string());
    writer.string_array("super_peers", texts);
  }
  if (config.update_check) writer.boolean("update_check", *config.update_check);
  if (config.auto_connect) writer.boolean("auto_connect", *config.auto_connect);

  writer.table("identity");
  toml_doc::write_identity(writer, config.identity);

  // The map has no order of its own; the file is sorted by the URL text as written.
  std::vector<const network::Network*> networks;
  networks.reserve(config.networks.size());
  for (const auto& [url, network] : config.networks) networks.push_back(&network);
  std::sort(networks.begin(), networks.end(),
            [](const network::Network* a, const network::Network* b) { return a->config_url < b->config_url; });
  for (const network::Network* network : networks) write_network(writer, *network);

  if (config.dns) {
    writer.table("dns");
    if (config.dns->disabled) writer.boolean("disabled", *config.dns->disabled);
  }
  if (config.controller) write_controller(writer, *config.controller);
  return std::move(writer).finish();
}

}  // namespace valdori::agent
