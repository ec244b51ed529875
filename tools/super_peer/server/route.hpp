// Where a message came from or goes to: a node's UDP endpoint or its TCP link.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "p2p_core/net/socket_addr.hpp"

namespace valdori::super_peer {

class TcpLink;

using Route = std::variant<p2p::net::SocketAddr, std::shared_ptr<TcpLink>>;

struct Outgoing {
  std::vector<std::uint8_t> message;
  Route route;
};

// "udp://192.0.2.1:4000" or "tcp://192.0.2.1:4000", for log lines.
std::string describe(const Route& route);

}  // namespace valdori::super_peer
