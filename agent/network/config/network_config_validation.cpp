// Reading and checking a single-network document.
#include <string>
#include <utility>

#include "agent/network/config/network_config.hpp"
#include "agent/network/config/network_config_reader.hpp"
#include "agent/network/config/reserved_address.hpp"
#include "agent/toml/document.hpp"

namespace valdori::network::config {
namespace {

constexpr std::size_t kMaxHostnameLength = 63;

bool is_hostname_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

// One DNS label: 1 to 63 letters, digits and hyphens, not starting or ending with a hyphen. Upper
// case is fine (names compare lower-cased), but only ASCII as written: a character that merely
// lower-cases to ASCII, such as the Kelvin sign, would make two different names one.
bool is_valid_hostname(const std::string& hostname) {
  if (hostname.empty() || hostname.size() > kMaxHostnameLength) return false;
  if (hostname.front() == '-' || hostname.back() == '-') return false;
  for (char c : hostname) {
    if (!is_hostname_char(c)) return false;
  }
  return true;
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
