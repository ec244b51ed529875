// Reading and checking a single-network document.
#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

#include "agent/network/config/hostname_lowercase.hpp"
#include "agent/network/config/network_config.hpp"
#include "agent/network/config/network_config_reader.hpp"
#include "agent/network/config/reserved_address.hpp"
#include "agent/toml/document.hpp"

namespace valdori::network::config {
namespace {

constexpr std::size_t kMaxHostnameLength = 63;

bool is_hostname_char(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'; }

// One DNS label once lower-cased: 1 to 63 bytes of lower-case letters, digits and hyphens, not
// starting or ending with a hyphen. The name is checked in the form it is looked up in, so
// "Web-01" and the Kelvin sign followed by "elvin" pass; bytes that are not UTF-8 lower-case to
// U+FFFD and fail.
bool is_valid_hostname(std::string_view hostname) {
  const std::string lower = lowercase_hostname(hostname);
  if (lower.empty() || lower.size() > kMaxHostnameLength) return false;
  if (lower.front() == '-' || lower.back() == '-') return false;
  return std::ranges::all_of(lower, is_hostname_char);
}

ConfigError toml_error(const agent::toml_doc::ReadError& error, std::string_view text) {
  return ConfigError{ConfigError::TomlError{agent::toml_doc::render(error, text)}};
}

}  // namespace

boost::system::result<NetworkConfig, ConfigError> NetworkConfig::try_from(std::string_view text) {
  auto document = agent::toml_doc::parse_document(text);
  if (!document) return toml_error(document.error(), text);
  auto config = read_network_config(*document);
  if (!config) return toml_error(config.error(), text);

  const Ipv4Addr reserved = reserved_address(config->network);
  for (const auto& [key, node] : config->node) {
    if (!config->network.contains(node.ip)) {
      return ConfigError{ConfigError::IpNotInNetwork{node.ip, config->network}};
    }
    if (node.ip == reserved) return ConfigError{ConfigError::IpReserved{node.ip}};
    if (!is_valid_hostname(node.hostname)) return ConfigError{ConfigError::HostnameInvalid{node.hostname}};
  }
  for (const auto& [dest, route] : config->route) {
    if (dest.trunc() != dest) return ConfigError{ConfigError::NetworkAddressInvalid{dest}};
    if (!config->node.contains(route.gw)) return ConfigError{ConfigError::GatewayNotFound{route.gw}};
  }
  return std::move(*config);
}

}  // namespace valdori::network::config
