// The route destinations for which this node is the gateway.
#pragma once

#include <functional>

#include <boost/unordered/unordered_flat_set.hpp>

#include "util/net/ipv4_net.hpp"

namespace valdori::network::config {

using util::net::Ipv4Net;

struct EffectiveForwardingList {
  using Set = boost::unordered_flat_set<Ipv4Net, std::hash<Ipv4Net>>;
  Set destinations;

  bool operator==(const EffectiveForwardingList&) const = default;
};

}  // namespace valdori::network::config
