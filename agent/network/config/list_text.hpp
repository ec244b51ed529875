// Text forms of the derived lists, as the status report and the logs print them: fixed-width
// tables sorted by address, and the words of `Direction` and `Action`.
#pragma once

#include <string>
#include <string_view>

#include "agent/network/config/effective_access_rule_list.hpp"
#include "agent/network/config/effective_forwarding_list.hpp"
#include "agent/network/config/effective_routing_list.hpp"
#include "agent/network/config/hostname_list.hpp"

namespace valdori::network::config {

std::string_view display(Direction direction);  // "IN", "OUT"
std::string_view display(Action action);        // "ALLOW", "DENY"
std::string_view debug(Direction direction);    // "IN", "OUT"
std::string_view debug(Action action);          // "Allow", "Deny"

// One line: "direction=OUT source=10.0.0.1/32 dest=... pk=... action=Allow\n".
std::string display(const EffectiveAccessRule& rule);
// "EffectiveAccessRule { direction: OUT, source: 10.0.0.1/32, dest: ..., pk: ..., action: Allow }"
std::string debug(const EffectiveAccessRule& rule);

// Tables: a header line, then one line per entry; every line ends in a line feed.
std::string display(const EffectiveAccessRuleList& list);
std::string display(const EffectiveRoutingList& list);
std::string display(const HostnameList& list);

// Structured forms for logs, entries sorted like the tables:
// "EffectiveRoutingList({10.1.0.0/16: EffectiveRoute { dest: 10.1.0.0/16, gw: 10.0.0.2 }})".
std::string debug(const EffectiveAccessRuleList& list);
std::string debug(const EffectiveRoutingList& list);
std::string debug(const EffectiveForwardingList& list);
std::string debug(const HostnameList& list);

}  // namespace valdori::network::config
