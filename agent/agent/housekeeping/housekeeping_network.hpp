// One network's step of a housekeeping pass.
#pragma once

#include <memory>

#include <boost/asio/awaitable.hpp>

#include "agent/agent/housekeeping/controller_networks.hpp"
#include "agent/agent/inner/agent_inner.hpp"
#include "util/url/url.hpp"

namespace valdori::agent::housekeeping {

// Under the state write lock: retrieves the network's document, makes it the network's desired
// state (empty when the network is disabled, with or without a document, or this node is no
// member of it; unchanged when the retrieval for an enabled network failed), has it applied, and records the network's
// health. Saves the configuration file when the document renamed the network. A network no longer joined is left alone,
// and so is every network once the agent has shut down. Every failure ends in a log line and the health.
boost::asio::awaitable<void> housekeeping_network(std::shared_ptr<AgentInner> inner, util::Url url,
                                                  std::shared_ptr<const ControllerNetworks> cached);

}  // namespace valdori::agent::housekeeping
