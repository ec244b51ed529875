#include "agent/agent/dns/dns_step.hpp"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "agent/agent/dns/catalog.hpp"
#include "util/log/log.hpp"
#include "util/text/debug_string.hpp"

namespace valdori::agent::dns {
namespace {

spdlog::logger& lg() { return log::module_logger<"valdori_agent::agent::dns::mobile">(); }

std::string debug(const std::optional<Ipv4Addr>& address) {
  return util::text::debug_optional(address, [](const Ipv4Addr& a) { return a.to_string(); });
}

void follow_responder_address(AgentDns& dns, const NetworkMap& networks) {
  const std::optional<Ipv4Addr> next = responder_address(networks);
  const std::optional<Ipv4Addr> present = dns.server_ip();
  if (next == present) return;
  VLOG_TRACE(lg(), "DNS server IP changed: {} -> {}", debug(present), debug(next));
  dns.store_server_ip(next);
}

void follow_hostnames(AgentDns& dns, NetworkMap& networks) {
  const auto differing = std::find_if(networks.begin(), networks.end(), [](const auto& entry) {
    return entry.second.current_state.hostnames != entry.second.desired_state.hostnames;
  });
  if (differing == networks.end()) {
    VLOG_TRACE(lg(), "All DNS hostnames up to date");
    return;
  }
  VLOG_TRACE(lg(), "DNS hostnames mismatch: current={} desired={}", debug(differing->second.current_state.hostnames),
             debug(differing->second.desired_state.hostnames));
  VLOG_TRACE(lg(), "Update hostnames in DNS");
  dns.replace_catalog(std::make_shared<const DnsCatalog>(build_catalog(networks)));
  for (auto& [url, network] : networks) network.current_state.hostnames = network.desired_state.hostnames;
}

}  // namespace

std::optional<Ipv4Addr> responder_address(const NetworkMap& networks) {
  // The first in URL order, not in the map's hash order: another network joining must not move
  // the address the host's resolver was given.
  const network::Network* first = nullptr;
  std::string_view first_url;
  for (const auto& [url, network] : networks) {
    if (network.disabled || !network.current_state.ip.applied) continue;
    if (first != nullptr && url.as_string() >= first_url) continue;
    first = &network;
    first_url = url.as_string();
  }
  if (first == nullptr) return std::nullopt;
  const std::uint32_t broadcast = first->current_state.ip.applied->broadcast().to_uint();
  // Only 0.0.0.0/32 has the broadcast address 0; the number 0 stands for "no responder".
  if (broadcast == 0) return std::nullopt;
  return Ipv4Addr(broadcast - 1);
}

void apply_desired_state(AgentDns& dns, NetworkMap& networks) {
  follow_responder_address(dns, networks);
  follow_hostnames(dns, networks);
}

}  // namespace valdori::agent::dns
