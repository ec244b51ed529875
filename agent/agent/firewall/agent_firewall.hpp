// The firewall step of the desired-state application, and the rebuild of the firewall tries
// from the applied access rules of every network.
#pragma once

#include "agent/agent/config.hpp"
#include "util/url/url.hpp"

namespace valdori::agent {
class AgentInner;
}

namespace valdori::agent::firewall {

// When the network's desired access rules differ from its applied ones (in value or in error
// text), copies them and rebuilds the tries. Nothing when `url` is not in the map.
void apply_desired_state(AgentInner& inner, NetworkMap& networks, const util::Url& url);

// Builds both tries anew from the applied access rules of all networks and publishes them,
// the transmit trie first. Networks are visited in the order of their URL text; when two
// networks' rules share an outer network their inner entries are merged, and where both give
// the same inner network the first network's entry stays (a conflicting peer is logged at
// WARN). A transmit entry whose peer the node refuses a send handle for is left out. The caller
// holds the state write lock, so rebuilds never overlap; never waits.
void update_tries(AgentInner& inner, const NetworkMap& networks);

}  // namespace valdori::agent::firewall
