#include "p2p_core/node/udp_socket.hpp"

#include <sys/socket.h>

#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/socket_base.hpp>

namespace valdori::p2p::node {
namespace {

using ReusePort = boost::asio::detail::socket_option::boolean<SOL_SOCKET, SO_REUSEPORT>;

}  // namespace

boost::system::result<SharedUdpSocket, std::error_code> new_udp_reuseport(const boost::asio::any_io_executor& executor,
                                                                          const net::SocketAddr& addr) {
  auto socket = std::make_shared<UdpSocket>(executor);
  boost::system::error_code ec;
  if (socket->open(addr.protocol(), ec); ec) return std::error_code(ec);
  if (socket->set_option(ReusePort(true), ec); ec) return std::error_code(ec);
  if (addr.address().is_v6()) {
    if (socket->set_option(boost::asio::ip::v6_only(true), ec); ec) return std::error_code(ec);
  }
  if (socket->bind(addr, ec); ec) return std::error_code(ec);
  // Many tasks share the socket. Asio switches a socket to non-blocking mode on its first
  // asynchronous operation, a write that would race with the first operations of other
  // threads; done here, before anyone has the socket, later operations only read that state.
  if (socket->non_blocking(true, ec); ec) return std::error_code(ec);
  return socket;
}

}  // namespace valdori::p2p::node
