// Overlay addresses and host names of the nodes this node may talk to, itself included; the
// embedded DNS responder serves them under the host-name zone.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include <boost/unordered/unordered_flat_map.hpp>

#include "util/net/ipv4_net.hpp"

namespace valdori::network::config {

using util::net::Ipv4Addr;

// The DNS zone of the overlay host names ("web-01" resolves as "web-01.valdori.").
inline constexpr std::string_view kHostnameZone = "valdori";

struct HostnameList {
  // Host names as stored in the configuration, without the zone.
  using Map = boost::unordered_flat_map<Ipv4Addr, std::string, std::hash<Ipv4Addr>>;
  Map hostnames;

  bool operator==(const HostnameList&) const = default;
};

}  // namespace valdori::network::config
