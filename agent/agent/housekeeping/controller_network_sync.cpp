#include "agent/agent/housekeeping/controller_network_sync.hpp"

#include <string>
#include <vector>

#include "agent/agent/housekeeping/housekeeping_log.hpp"
#include "agent/agent/housekeeping/network_name_limit.hpp"
#include "util/url/mask_url.hpp"

namespace valdori::agent::housekeeping {
namespace {

namespace asio = boost::asio;

bool join_new_networks(NetworkMap& networks, const ControllerNetworks& listed) {
  bool joined = false;
  for (const auto& [url, document] : listed) {
    if (networks.contains(url)) continue;
    if (const auto refused = overlong_name(document)) {
      VLOG_WARN(housekeeping_logger(), "Not joining controller network {}: {}", util::mask_url(url), *refused);
      continue;
    }
    VLOG_TRACE(housekeeping_logger(), "Adding new controller network: {}", util::mask_url(url));
    network::Network added;
    added.config_url = std::string(url.as_string());
    added.name = document.name;
    networks.emplace(url, std::move(added));
    joined = true;
  }
  return joined;
}

bool leave_unlisted_networks(const std::shared_ptr<AgentInner>& inner, NetworkMap& networks,
                             const ControllerNetworks& listed) {
  std::vector<util::Url> unlisted;
  for (const auto& [url, joined] : networks) {
    if (is_controller_network(url) && !listed.contains(url)) unlisted.push_back(url);
  }
  for (const util::Url& url : unlisted) {
    VLOG_TRACE(housekeeping_logger(), "Removing controller network that no longer exists: {}", util::mask_url(url));
    // Torn down first: its address, routes, firewall rules and host names must not outlive it.
    networks.at(url).desired_state = {};
    AgentInner::apply_desired_state(inner, networks, url);
    networks.erase(url);
  }
  return !unlisted.empty();
}

}  // namespace

asio::awaitable<void> sync_controller_networks(std::shared_ptr<AgentInner> inner, const ControllerNetworks& listed) {
  VLOG_TRACE(housekeeping_logger(), "Locking state for synchronization");
  auto guard = co_await inner->state_lock.write();
  // After shutdown the file belongs to the host again; a late pass must not rewrite it.
  if (inner->token.is_cancelled()) co_return;
  NetworkMap& networks = inner->state.config.networks;
  const bool joined = join_new_networks(networks, listed);
  const bool left = leave_unlisted_networks(inner, networks, listed);
  if (!joined && !left) co_return;
  if (auto saved = inner->state.save_config(inner->config_path); !saved) {
    VLOG_WARN(housekeeping_logger(), "Failed to save config after controller network sync: {}", saved.error());
  }
}

}  // namespace valdori::agent::housekeeping
