// The networks the controller lists for this node, each under "controller://" followed by its
// id. Made once per housekeeping pass and lent, read-only, to every network's step of that pass.
#pragma once

#include <unordered_map>

#include "agent/network/config/network_config.hpp"
#include "util/url/url.hpp"

namespace valdori::agent::housekeeping {

using ControllerNetworks = std::unordered_map<util::Url, network::config::NetworkConfig>;

// A network whose configuration the controller's list provides.
inline bool is_controller_network(const util::Url& url) { return url.scheme() == "controller"; }

}  // namespace valdori::agent::housekeeping
