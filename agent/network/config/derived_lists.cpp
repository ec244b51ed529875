#include "agent/network/config/derived_lists.hpp"

#include <algorithm>
#include <vector>

#include "agent/network/config/list_text.hpp"
#include "util/log/log.hpp"

namespace valdori::network::config {
namespace {

spdlog::logger& log() { return valdori::log::logger("valdori_agent::network::config"); }

const NetworkNode* find_node(const NetworkConfig& config, const PubKey& key) {
  auto it = config.node.find(key);
  return it == config.node.end() ? nullptr : &it->second;
}

// True when the two sets share a member.
bool meets(const Groups& a, const Groups& b) {
  const Groups& small = a.size() <= b.size() ? a : b;
  const Groups& large = a.size() <= b.size() ? b : a;
  return std::any_of(small.begin(), small.end(), [&](const std::string& g) { return large.contains(g); });
}

// Policies only: "ALL" admits every node.
bool admits(const Groups& policy_groups, const NetworkNode& node) {
  return policy_groups.contains(std::string(kAllGroup)) || meets(policy_groups, node.groups);
}

// Route groups: empty lets everybody in.
bool lets_in(const NetworkRoute& route, const NetworkNode& node) {
  return route.groups.empty() || meets(route.groups, node.groups);
}

Action action_of(bool allowed) { return allowed ? Action::Allow : Action::Deny; }

// Collects rules; the first repeated key fails the whole list. Every rule is between a local
// network (this node's, or a subnet it serves) and a remote one; the direction orients it.
class RuleCollector {
 public:
  // `what` names the case in the trace line: "node", "route (non-gateway)", "route (gateway)".
  bool add(Direction direction, std::string_view what, Ipv4Net local, Ipv4Net remote, const PubKey& peer,
           Action action) {
    const bool out = direction == Direction::OUT;
    const EffectiveAccessRule rule{direction, out ? local : remote, out ? remote : local, peer, action};
    VLOG_TRACE(log(), "Adding {} rule for {}: {}", display(direction), what, debug(rule));
    return list_.rules.try_emplace(EffectiveAccessRuleListEntryKey::of(rule), rule).second;
  }
  EffectiveAccessRuleList take() && { return std::move(list_); }

 private:
  EffectiveAccessRuleList list_;
};

struct Peer {
  const NetworkNode* node;
  Action action;  // of its node rules, by the policies
};

}  // namespace

std::optional<Ipv4Addr> ip(const NetworkConfig& config, const PubKey& key) {
  const NetworkNode* node = find_node(config, key);
  return node ? std::optional(node->ip) : std::nullopt;
}

GroupMembers groups(const NetworkConfig& config) {
  GroupMembers members;
  for (const auto& [key, node] : config.node) {
    for (const auto& group : node.groups) members[group].insert(key);
  }
  return members;
}

bool matching_policy(const NetworkConfig& config, const PubKey& a, const PubKey& b) {
  if (a == b) return true;
  const NetworkNode* node_a = find_node(config, a);
  const NetworkNode* node_b = find_node(config, b);
  if (!node_a || !node_b) return false;
  return std::any_of(config.policy.begin(), config.policy.end(), [&](const NetworkPolicy& p) {
    return (admits(p.source_groups, *node_a) && admits(p.destination_groups, *node_b)) ||
           (admits(p.source_groups, *node_b) && admits(p.destination_groups, *node_a));
  });
}

boost::system::result<EffectiveAccessRuleList, ConfigError> effective_access_rule_list(const NetworkConfig& config,
                                                                                       const PubKey& own) {
  const NetworkNode* me = find_node(config, own);
  if (!me) return EffectiveAccessRuleList{};
  const Ipv4Net my_net = Ipv4Net::host(me->ip);
  const ConfigError duplicate{ConfigError::RouteDuplicate{}};

  std::vector<Peer> peers;
  for (const auto& [key, node] : config.node) {
    if (key != own) peers.push_back({&node, action_of(matching_policy(config, own, key))});
  }

  // All OUT rules (nodes, then routes), then all IN rules likewise.
  RuleCollector rules;
  for (Direction direction : {Direction::OUT, Direction::IN}) {
    for (const Peer& peer : peers) {
      if (!rules.add(direction, "node", my_net, Ipv4Net::host(peer.node->ip), peer.node->pk, peer.action))
        return duplicate;
    }
    for (const auto& [dest, route] : config.route) {
      if (route.gw != own) {
        if (!rules.add(direction, "route (non-gateway)", my_net, route.dest, route.gw, action_of(lets_in(route, *me))))
          return duplicate;
        continue;
      }
      for (const Peer& peer : peers) {
        if (!rules.add(direction, "route (gateway)", route.dest, Ipv4Net::host(peer.node->ip), peer.node->pk,
                       action_of(lets_in(route, *peer.node))))
          return duplicate;
      }
    }
  }
  return std::move(rules).take();
}

boost::system::result<EffectiveRoutingList, ConfigError> effective_routing_list(const NetworkConfig& config,
                                                                                const PubKey& own) {
  EffectiveRoutingList list;
  const NetworkNode* me = find_node(config, own);
  if (!me) return list;
  for (const auto& [dest, route] : config.route) {
    if (route.gw == own || !lets_in(route, *me)) continue;
    const NetworkNode* gateway = find_node(config, route.gw);
    if (!gateway) return ConfigError{ConfigError::GatewayNotFound{route.gw}};
    list.routes.emplace(route.dest, EffectiveRoute{route.dest, gateway->ip});
  }
  return list;
}

EffectiveForwardingList effective_forwarding_list(const NetworkConfig& config, const PubKey& own) {
  EffectiveForwardingList list;
  for (const auto& [dest, route] : config.route) {
    if (route.gw == own) list.destinations.insert(route.dest);
  }
  return list;
}

HostnameList hostnames(const NetworkConfig& config, const PubKey& own) {
  HostnameList list;
  for (const auto& [key, node] : config.node) {
    if (matching_policy(config, own, key)) list.hostnames.emplace(node.ip, node.hostname);
  }
  return list;
}

}  // namespace valdori::network::config
