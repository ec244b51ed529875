// The DNS step of the desired-state application: the responder address follows the applied
// overlay addresses, and the catalogue follows the networks' host names.
#pragma once

#include <optional>

#include "agent/agent/config.hpp"
#include "agent/agent/dns/agent_dns.hpp"

namespace valdori::agent::dns {

// The responder address for `networks`: the address below the broadcast address of the first
// network, in URL order, that is enabled and has an applied overlay address; none when no
// network qualifies. 10.1.2.3/24 gives 10.1.2.254.
std::optional<Ipv4Addr> responder_address(const NetworkMap& networks);

// Stores the responder address when it changed. When any network's desired host names differ
// from its applied ones, builds and publishes a new catalogue and marks every network's
// desired host names as applied. Works on the whole map; never waits.
void apply_desired_state(AgentDns& dns, NetworkMap& networks);

}  // namespace valdori::agent::dns
