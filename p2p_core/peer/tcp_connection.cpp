#include "p2p_core/peer/tcp_connection.hpp"

namespace valdori::p2p::peer {

void TcpConnection::cancel_connection() {
  token_.cancel();
  writer_.store(nullptr);
}

}  // namespace valdori::p2p::peer
