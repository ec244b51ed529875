// One joined network: what the configuration file keeps of it, and at run time the state this
// device has applied, the state its configuration document asks for, and its health.
#pragma once

#include <optional>
#include <string>

#include "agent/network/agent_state.hpp"
#include "agent/network/network_health.hpp"

namespace valdori::network {

struct Network {
  // Saved in the configuration file.
  std::string config_url;  // the URL text as given; the network's unique key
  bool disabled = false;
  std::optional<std::string> name{};

  // Run time only; never saved, never read from the file.
  AgentState current_state{};
  AgentState desired_state{};
  NetworkHealth health{};  // Initializing
};

}  // namespace valdori::network
