// Opening the node's UDP sockets.
#pragma once

#include <system_error>

#include <boost/asio/any_io_executor.hpp>
#include <boost/system/result.hpp>

#include "p2p_core/net/socket_addr.hpp"
#include "p2p_core/node/udp_binding.hpp"

namespace valdori::p2p::node {

// A UDP socket bound to `addr` with SO_REUSEPORT, so that several sockets share one address and
// port and the kernel spreads the arriving datagrams over them. IPv6 sockets are IPv6-only, so
// that they never collide with the IPv4 sockets on the same port. Port 0 binds a free port; read
// it from the socket's local address and bind the address's further sockets to that port. The
// socket is non-blocking: its synchronous operations fail with would_block instead of waiting.
boost::system::result<SharedUdpSocket, std::error_code> new_udp_reuseport(const boost::asio::any_io_executor& executor,
                                                                          const net::SocketAddr& addr);

}  // namespace valdori::p2p::node
