#include "p2p_core/node/udp_socket.hpp"

#include <sys/socket.h>

#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/socket_base.hpp>

namespace valdori::p2p::node {
namespace {

using ReusePort = boost::asio::detail::socket_option::boolean<SOL_SOCKET, SO_REUSEPORT>;

// A coalesced (GRO) datagram of up to 64 KB counts whole against the receive buffer: the
// default of about 208 KB holds three, and a burst beyond that loses every segment of the
// datagrams that do not fit. Asked for; the kernel caps it at its maximum (net.core.rmem_max).
constexpr int kBufferBytes = 4 << 20;

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
  // Smaller buffers only cost throughput: a refusal is no reason to fail the binding.
  boost::system::error_code ignored;
  socket->set_option(boost::asio::socket_base::receive_buffer_size(kBufferBytes), ignored);
  socket->set_option(boost::asio::socket_base::send_buffer_size(kBufferBytes), ignored);
  // Many tasks share the socket. Asio switches a socket to non-blocking mode on its first
  // asynchronous operation, a write that would race with the first operations of other
  // threads; done here, before anyone has the socket, later operations only read that state.
  if (socket->non_blocking(true, ec); ec) return std::error_code(ec);
  return socket;
}

}  // namespace valdori::p2p::node
