// The local interface addresses a node may bind and advertise.
#pragma once

#include <string>
#include <system_error>
#include <vector>

#include <boost/asio/ip/address.hpp>
#include <boost/system/result.hpp>

namespace valdori::p2p::net {

struct InterfaceAddr {
  std::string name;  // empty for an address given by configuration
  boost::asio::ip::address addr;

  bool operator==(const InterfaceAddr&) const = default;
};

// The IPv4 and IPv6 addresses of every interface that is up, in the system's order. IPv6
// link-local addresses are left out: they need a scope that a peer cannot use, and a socket
// bound to one reaches no super peer.
boost::system::result<std::vector<InterfaceAddr>, std::error_code> get_addrs();

}  // namespace valdori::p2p::net
