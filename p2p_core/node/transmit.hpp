// Replies the message handlers queue during one dispatch; the receiving task sends them after
// the dispatch has succeeded.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "p2p_core/identity/keys.hpp"
#include "p2p_core/net/socket_addr.hpp"
#include "p2p_core/node/udp_binding.hpp"
#include "p2p_core/peer/link_writer.hpp"

namespace valdori::p2p::node {

struct UdpTransmit {
  std::vector<std::uint8_t> message;
  net::SocketAddr destination;
  SharedUdpSocket socket;  // the socket to send from
};

struct TcpTransmit {
  std::vector<std::uint8_t> message;
  std::shared_ptr<peer::LinkWriter> writer;  // of the super peer's link
  PubKey super_peer;
};

using UdpTransmits = std::vector<UdpTransmit>;
using TcpTransmits = std::vector<TcpTransmit>;

}  // namespace valdori::p2p::node
