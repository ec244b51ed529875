// What the agent sends the controller about itself after each housekeeping pass.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "agent/json/record.hpp"

namespace valdori::controller::models {

struct SuperPeerMetrics {
  bool connected = false;
  std::uint32_t ping = 0;
  bool ipv4 = false;
  bool ipv6 = false;
};

struct NetworkTrafficMetrics {
  std::uint64_t rx = 0;
  std::uint64_t tx = 0;
  bool enabled = false;
};

struct UpdateNodeMetricsRequest {
  std::string os;
  std::optional<std::string> os_version;
  std::optional<std::string> os_arch;
  std::optional<std::string> rust_version;  // kept for the controller's schema; always absent
  std::vector<std::string> ips;
  std::optional<std::string> valdori_agent_version;
  std::optional<std::string> valdori_ui_version;
  std::map<std::string, SuperPeerMetrics> super_peers;  // ordered by key bytes
  std::map<std::string, NetworkTrafficMetrics> networks;
  std::optional<std::string> error_logs;
};

constexpr auto json_record(std::type_identity<SuperPeerMetrics>) {
  using T = SuperPeerMetrics;
  using namespace agent::json_doc;
  return sent_record("SuperPeerMetrics", field("connected", &T::connected), field("ping", &T::ping),
                     field("ipv4", &T::ipv4), field("ipv6", &T::ipv6));
}

constexpr auto json_record(std::type_identity<NetworkTrafficMetrics>) {
  using T = NetworkTrafficMetrics;
  using namespace agent::json_doc;
  return sent_record("NetworkTrafficMetrics", field("rx", &T::rx), field("tx", &T::tx), field("enabled", &T::enabled));
}

constexpr auto json_record(std::type_identity<UpdateNodeMetricsRequest>) {
  using T = UpdateNodeMetricsRequest;
  using namespace agent::json_doc;
  return sent_record("UpdateNodeMetricsRequest", field("os", &T::os), field("os_version", &T::os_version),
                     field("os_arch", &T::os_arch), field("rust_version", &T::rust_version), field("ips", &T::ips),
                     field("valdori_agent_version", &T::valdori_agent_version),
                     field("valdori_ui_version", &T::valdori_ui_version), field("super_peers", &T::super_peers),
                     field("networks", &T::networks), field("error_logs", &T::error_logs));
}

// The compact JSON document: every member in declaration order, absent values as null.
std::string to_json(const UpdateNodeMetricsRequest& request);
// "UpdateNodeMetricsRequest { os: \"Debian\", os_version: Some(\"6.1.0\"), ... }" for TRACE lines.
std::string debug_text(const UpdateNodeMetricsRequest& request);

}  // namespace valdori::controller::models
