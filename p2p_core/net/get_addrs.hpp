// The local interface addresses a node may bind and advertise.
#pragma once

#include <string>
#include <string_view>
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

// Whether a node binds and advertises `entry` found on the interfaces: not a loopback interface
// or address, which no peer reaches; not a link-local address, which needs a scope a peer cannot
// use; not an address of `tunnel`, the agent's own tunnel (empty: none), through which the
// overlay would carry itself.
bool is_bindable(const InterfaceAddr& entry, bool loopback_interface, std::string_view tunnel);

// The bindable IPv4 and IPv6 addresses of every interface that is up, in the system's order.
boost::system::result<std::vector<InterfaceAddr>, std::error_code> get_addrs(std::string_view tunnel = {});

}  // namespace valdori::p2p::net
