// The netif step of the desired-state application. The host owns the tunnel interface and sets
// its addresses from the network-change record, so this step only records the address as
// applied; the first time it runs it also starts the tunnel tasks.
#pragma once

#include <memory>

#include "agent/agent/config.hpp"
#include "util/url/url.hpp"

namespace valdori::agent {
class AgentInner;
}

namespace valdori::agent::netif {

// Starts the tunnel supervisor if no application has done so yet (whether or not `url` is in
// the map), then copies the network's desired overlay address to its applied one. Never waits.
void apply_desired_state(const std::shared_ptr<AgentInner>& inner, NetworkMap& networks, const util::Url& url);

}  // namespace valdori::agent::netif
