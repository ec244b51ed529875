#include "p2p_core/peer/tcp_connection.hpp"

namespace valdori::p2p::peer {

void TcpConnection::cancel_connection() {
  token_.cancel();
  if (const auto writer = writer_.load()) writer->close();
  writer_.store(nullptr);
}

}  // namespace valdori::p2p::peer
