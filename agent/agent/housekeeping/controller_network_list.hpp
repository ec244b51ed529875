// The first steps of a housekeeping pass: the controller's list of this node's networks, and the
// controller connection status it leaves behind.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include <boost/asio/awaitable.hpp>

#include "agent/agent/housekeeping/controller_networks.hpp"
#include "agent/agent/inner/agent_inner.hpp"

namespace valdori::agent::housekeeping {

// The networks of the controller's document, each under "controller://" and its id; an entry
// without an id fails the list.
boost::system::result<ControllerNetworks, error::Error> list_controller_networks(
    network::config::MultiNetworkConfig document);

// The controller's list of this node's networks, each under "controller://" and its id, asked
// of the controller named in the configuration file (read anew) with a request signed with
// `secret`. A failed request, an unreadable file or an entry without an id fails the call.
boost::asio::awaitable<boost::system::result<ControllerNetworks, error::Error>> get_controller_networks(
    std::shared_ptr<AgentInner> inner, std::string secret);

// The controller's shared secret as the agent state holds it now.
boost::asio::awaitable<std::optional<std::string>> copy_shared_secret(std::shared_ptr<AgentInner> inner);

// Without a secret the node is logged out and has no controller networks (an empty list).
// With one, the list is fetched: the status is Ok, or an error when the list is empty; when the
// fetch fails, the status carries the error and the result is empty (nullopt): the list is
// unknown this pass, which is no reason to leave any network.
boost::asio::awaitable<std::optional<ControllerNetworks>> controller_network_list(std::shared_ptr<AgentInner> inner,
                                                                                  std::optional<std::string> secret);

}  // namespace valdori::agent::housekeeping
