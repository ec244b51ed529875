#include "p2p_core/net/socket_addr.hpp"

namespace valdori::p2p::net {

std::string to_string(const SocketAddr& addr) {
  if (addr.address().is_v6()) return fmt::format("[{}]:{}", addr.address().to_string(), addr.port());
  return fmt::format("{}:{}", addr.address().to_string(), addr.port());
}

}  // namespace valdori::p2p::net
