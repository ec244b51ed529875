// The firewall's view of an access-rule list: two nested prefix maps holding the allowed traffic
// only. Outbound is keyed by destination, then source; inbound by source, then destination. A
// lookup that finds no peer means the traffic is not allowed.
#pragma once

#include "p2p_core/identity/keys.hpp"
#include "util/net/ipv4_prefix_map.hpp"

namespace valdori::network::config {

using RoutingTrie = util::net::Ipv4PrefixMap<util::net::Ipv4PrefixMap<p2p::PubKey>>;

struct RoutingTries {
  RoutingTrie outbound;  // destination, then source
  RoutingTrie inbound;   // source, then destination
};

// The peer of the longest outer network holding `outer`, then within it of the longest inner
// network holding `inner`; null when either level misses. Outbound: (destination, source);
// inbound: (source, destination).
inline const p2p::PubKey* lookup(const RoutingTrie& trie, util::net::Ipv4Addr outer,
                                 util::net::Ipv4Addr inner) noexcept {
  const auto* inner_trie = trie.lookup(outer);
  return inner_trie ? inner_trie->lookup(inner) : nullptr;
}

}  // namespace valdori::network::config
