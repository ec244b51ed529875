#include "p2p_core/peer/tcp_connection.hpp"

namespace valdori::p2p::peer {

void TcpConnection::cancel_connection() {
  token_.cancel();
  writer_.store(nullptr, std::memory_order_release);
}

}  // namespace valdori::p2p::peer
