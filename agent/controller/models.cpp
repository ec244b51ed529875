#include "agent/controller/models.hpp"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "util/text/debug_string.hpp"

namespace valdori::controller::models {
namespace {

using Json = nlohmann::ordered_json;

std::string debug_opt(const std::optional<std::string>& text) {
  return util::text::debug_optional(text, [](const std::string& t) { return util::text::debug_string(t); });
}

}  // namespace

std::string to_json(const UpdateNodeMetricsRequest& request) {
  // Invalid UTF-8 in a text (an odd interface name, say) is replaced rather than thrown.
  return Json(request).dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string debug_text(const UpdateNodeMetricsRequest& request) {
  std::vector<std::string> ips;
  for (const auto& ip : request.ips) ips.push_back(util::text::debug_string(ip));
  std::vector<std::string> super_peers;
  for (const auto& [key, p] : request.super_peers) {
    super_peers.push_back(fmt::format("{}: SuperPeerMetrics {{ connected: {}, ping: {}, ipv4: {}, ipv6: {} }}",
                                      util::text::debug_string(key), p.connected, p.ping, p.ipv4, p.ipv6));
  }
  std::vector<std::string> networks;
  for (const auto& [key, n] : request.networks) {
    networks.push_back(fmt::format("{}: NetworkTrafficMetrics {{ rx: {}, tx: {}, enabled: {} }}",
                                   util::text::debug_string(key), n.rx, n.tx, n.enabled));
  }
  return fmt::format(
      "UpdateNodeMetricsRequest {{ os: {}, os_version: {}, os_arch: {}, rust_version: {}, ips: [{}], "
      "valdori_agent_version: {}, valdori_ui_version: {}, super_peers: {{{}}}, networks: {{{}}}, error_logs: {} }}",
      util::text::debug_string(request.os), debug_opt(request.os_version), debug_opt(request.os_arch),
      debug_opt(request.rust_version), fmt::join(ips, ", "), debug_opt(request.valdori_agent_version),
      debug_opt(request.valdori_ui_version), fmt::join(super_peers, ", "), fmt::join(networks, ", "),
      debug_opt(request.error_logs));
}

}  // namespace valdori::controller::models
