// The unit in which the super peer counts what one party holds (TCP links, registrations): one
// IPv4 address, or one IPv6 /64, since a single subscriber is usually handed a whole /64 and
// can send from any address in it.
#pragma once

#include <boost/asio/ip/address.hpp>

namespace valdori::super_peer {

// The address itself for IPv4 (also when mapped into IPv6), else its /64 with the interface
// bits cleared.
boost::asio::ip::address address_group(const boost::asio::ip::address& address);

}  // namespace valdori::super_peer
