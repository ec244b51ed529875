// What the agent sends the controller about itself after each housekeeping pass.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

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

// The compact JSON document: every member in declaration order, absent values as null.
std::string to_json(const UpdateNodeMetricsRequest& request);
// "UpdateNodeMetricsRequest { os: \"Debian\", os_version: Some(\"6.1.0\"), ... }" for TRACE lines.
std::string debug_text(const UpdateNodeMetricsRequest& request);

}  // namespace valdori::controller::models
