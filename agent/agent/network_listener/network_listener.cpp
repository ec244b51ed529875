#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "agent/agent/inner/agent_inner.hpp"
#include "agent/network/config/list_text.hpp"
#include "util/log/log.hpp"
#include "util/text/debug_string.hpp"
#include "util/url/mask_url.hpp"

namespace valdori::agent {
namespace {

using util::net::Ipv4Net;
using util::text::debug_optional;

spdlog::logger& lg() { return log::module_logger<"valdori_agent::agent::network_listener">(); }

std::string debug_list(const std::vector<Ipv4Net>& networks) { return fmt::format("[{}]", fmt::join(networks, ", ")); }

// Networks order by address, then prefix length; sorted, the record does not depend on the
// map's order. Duplicates stay.
void sort_networks(std::vector<Ipv4Net>& networks) { std::stable_sort(networks.begin(), networks.end()); }

std::vector<Ipv4Net> applied_routes(const NetworkMap& networks) {
  VLOG_TRACE(lg(), "Collecting routes from {} networks", networks.size());
  std::vector<Ipv4Net> routes;
  for (const auto& [url, network] : networks) {
    const auto& applied = network.current_state.routes.applied;
    VLOG_TRACE(lg(), "Processing network {}: routes={}", util::mask_url(url),
               debug_optional(applied, [](const auto& list) { return debug(list); }));
    if (!applied) continue;
    for (const auto& [dest, route] : applied->iter()) routes.push_back(route.dest);
  }
  sort_networks(routes);
  VLOG_TRACE(lg(), "Collected {} routes: {}", routes.size(), debug_list(routes));
  return routes;
}

std::vector<Ipv4Net> applied_addresses(const NetworkMap& networks) {
  std::vector<Ipv4Net> ips;
  for (const auto& [url, network] : networks) {
    const auto& applied = network.current_state.ip.applied;
    VLOG_TRACE(lg(), "Processing network {}: ip={}", util::mask_url(url),
               debug_optional(applied, [](const Ipv4Net& net) { return net.to_string(); }));
    if (applied) ips.push_back(*applied);
  }
  sort_networks(ips);
  VLOG_TRACE(lg(), "Collected {} IPs: {}", ips.size(), debug_list(ips));
  return ips;
}

// The caller holds the state write lock, so the host's callback runs under it.
void deliver(AgentInner& inner, NetworkChange change) {
  // Once the agent is shut down the host must hear nothing more: a record built before the
  // shutdown cleared the state would undo what the host did on shutdown.
  if (inner.token.is_cancelled()) {
    VLOG_TRACE(lg(), "Agent token cancelled, skipping notification");
    return;
  }
  std::optional<NetworkChange>& last = inner.state.last_network_change;
  if (last == change) {
    VLOG_TRACE(lg(), "Network change is identical to last one, skipping notification");
    return;
  }
  VLOG_TRACE(lg(), "Network change detected, notifying listener: old={} new={}",
             debug_optional(last, [](const NetworkChange& c) { return debug(c); }), debug(change));
  last = change;
  if (inner.platform->callback) inner.platform->callback(std::move(change));
}

}  // namespace

boost::asio::awaitable<void> AgentInner::notify_on_network_change(std::shared_ptr<AgentInner> inner) {
  NetworkChange change;
  {
    const util::RwLock::ReadGuard guard = co_await inner->state_lock.read();
    VLOG_TRACE(lg(), "Networks change listener set, check if we have a change");
    const NetworkMap& networks = inner->state.config.networks;
    change.routes = applied_routes(networks);
    change.ips = applied_addresses(networks);
    change.dns_server = inner->dns ? inner->dns->server_ip() : std::nullopt;
  }
  const util::RwLock::WriteGuard guard = co_await inner->state_lock.write();
  deliver(*inner, std::move(change));
}

}  // namespace valdori::agent
