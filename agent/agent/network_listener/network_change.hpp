// What the host is told to apply to its tunnel interface: the overlay addresses, the routes and
// the address of the embedded DNS responder.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "util/net/ipv4_net.hpp"

namespace valdori::agent {

struct NetworkChange {
  std::optional<std::vector<util::net::Ipv4Net>> ips;     // every applied overlay address
  std::optional<std::vector<util::net::Ipv4Net>> routes;  // every applied route destination
  std::optional<util::net::Ipv4Addr> dns_server;          // the DNS responder

  bool operator==(const NetworkChange&) const = default;
};

// "NetworkChange { ips: Some([10.1.0.5/16]), routes: Some([]), dns_server: None }"
std::string debug(const NetworkChange& change);

}  // namespace valdori::agent
