// Keeps the joined controller networks in line with the controller's list.
#pragma once

#include <memory>

#include <boost/asio/awaitable.hpp>

#include "agent/agent/housekeeping/controller_networks.hpp"
#include "agent/agent/inner/agent_inner.hpp"

namespace valdori::agent::housekeeping {

// Joins every listed network not joined yet (enabled, with the list's name and empty states) but
// one whose name the configuration file cannot take (named at WARN), tears down and leaves every
// controller network the list no longer has, and saves the configuration file when either
// happened. Networks of other schemes are left alone. After the agent's shutdown nothing changes.
boost::asio::awaitable<void> sync_controller_networks(std::shared_ptr<AgentInner> inner,
                                                      const ControllerNetworks& listed);

}  // namespace valdori::agent::housekeeping
