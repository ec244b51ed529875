#include "agent/network/config/config_error.hpp"

#include <fmt/format.h>

#include "util/overloaded.hpp"
#include "util/text/debug_string.hpp"

namespace valdori::network::config {

using util::Overloaded;

std::string display(const ConfigError& error) {
  return std::visit(
      Overloaded{
          [](const ConfigError::IpNotInNetwork& e) {
            return fmt::format("IP address {} is not in network {}", e.ip.to_string(), e.network);
          },
          [](const ConfigError::GatewayNotFound& e) { return fmt::format("{} not found in nodes", e.gw); },
          [](const ConfigError::TomlError& e) { return "TOML deserialization error: " + e.message; },
          [](const ConfigError::RouteDuplicate&) { return std::string("duplicate route"); },
          [](const ConfigError::IpReserved& e) { return fmt::format("IP address {} is reserved", e.ip.to_string()); },
          [](const ConfigError::HostnameInvalid& e) {
            return "invalid hostname: " + util::text::escape_controls(e.hostname);
          },
          [](const ConfigError::NetworkAddressInvalid& e) {
            return fmt::format("invalid network address: {} is a host address", e.dest);
          },
      },
      error.kind);
}

std::string debug(const ConfigError& error) {
  return std::visit(
      Overloaded{
          [](const ConfigError::IpNotInNetwork& e) {
            return fmt::format("IpNotInNetwork({}, {})", e.ip.to_string(), e.network);
          },
          [](const ConfigError::GatewayNotFound& e) { return fmt::format("GatewayNotFound({})", e.gw); },
          [](const ConfigError::TomlError& e) {
            return fmt::format("TomlError({})", util::text::debug_string(e.message));
          },
          [](const ConfigError::RouteDuplicate&) { return std::string("RouteDuplicate"); },
          [](const ConfigError::IpReserved& e) { return fmt::format("IpReserved({})", e.ip.to_string()); },
          [](const ConfigError::HostnameInvalid& e) {
            return fmt::format("HostnameInvalid({})", util::text::debug_string(e.hostname));
          },
          [](const ConfigError::NetworkAddressInvalid& e) { return fmt::format("NetworkAddressInvalid({})", e.dest); },
      },
      error.kind);
}

}  // namespace valdori::network::config
