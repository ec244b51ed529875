// The five state items of one network, either as this device has applied them or as the latest
// configuration document asks for them. Default-constructed it is the empty state. The items'
// text and debug forms come with the list types.
#pragma once

#include "agent/network/applied_status.hpp"
#include "agent/network/config/effective_access_rule_list.hpp"
#include "agent/network/config/effective_forwarding_list.hpp"
#include "agent/network/config/effective_routing_list.hpp"
#include "agent/network/config/hostname_list.hpp"
#include "agent/network/config/list_text.hpp"
#include "util/net/ipv4_net.hpp"

namespace valdori::network {

struct AgentState {
  // This node's overlay address with the prefix length of the network's subnet.
  AppliedStatus<util::net::Ipv4Net> ip;
  AppliedStatus<config::EffectiveAccessRuleList> access_rules;
  AppliedStatus<config::EffectiveRoutingList> routes;
  AppliedStatus<config::EffectiveForwardingList> forwardings;
  AppliedStatus<config::HostnameList> hostnames;

  // Item by item, in member order.
  bool operator==(const AgentState&) const = default;
};

}  // namespace valdori::network
