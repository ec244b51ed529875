// What this node derives from a network document (access rules, routes, forwardings, host names,
// its address and the texts of each), as seen by a few of its nodes and by a key that is no node.
#pragma once

#include <cstddef>

#include "agent/network/config/derived_lists.hpp"
#include "agent/network/config/list_text.hpp"
#include "agent/network/config/network_config.hpp"

namespace valdori::fuzz {

inline void derive(const network::config::NetworkConfig& config, const network::config::PubKey& own) {
  using namespace network::config;
  if (const auto rules = effective_access_rule_list(config, own)) {
    (void)display(*rules);
    (void)debug(*rules);
  } else {
    (void)display(rules.error());
  }
  if (const auto routes = effective_routing_list(config, own)) {
    (void)display(*routes);
    (void)debug(*routes);
  } else {
    (void)debug(routes.error());
  }
  (void)debug(effective_forwarding_list(config, own));
  const auto names = hostnames(config, own);
  (void)display(names);
  (void)debug(names);
  (void)ip(config, own);
}

inline void derive_views(const network::config::NetworkConfig& config) {
  using namespace network::config;
  (void)groups(config);
  // A few nodes' views are enough to reach every branch; all of a large document's would be slow.
  constexpr std::size_t kViews = 8;
  std::size_t views = 0;
  for (const auto& [key, node] : config.node) {
    if (++views > kViews) break;
    derive(config, key);
    for (const auto& [other, other_node] : config.node) (void)matching_policy(config, key, other);
  }
  derive(config, PubKey());
}

}  // namespace valdori::fuzz
