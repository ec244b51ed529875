// The subnets this node reaches through another member node acting as gateway.
#pragma once

#include <functional>

#include <boost/unordered/unordered_flat_map.hpp>

#include "util/net/ipv4_net.hpp"

namespace valdori::network::config {

using util::net::Ipv4Addr;
using util::net::Ipv4Net;

struct EffectiveRoute {
  Ipv4Net dest;
  Ipv4Addr gw;  // the gateway node's overlay address

  bool operator==(const EffectiveRoute&) const = default;
};

// Routes keyed by destination; compared by content.
struct EffectiveRoutingList {
  using Map = boost::unordered_flat_map<Ipv4Net, EffectiveRoute, std::hash<Ipv4Net>>;
  Map routes;

  // The (destination, route) pairs in map order.
  const Map& iter() const { return routes; }

  bool operator==(const EffectiveRoutingList&) const = default;
};

}  // namespace valdori::network::config
