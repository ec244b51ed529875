// The dispatch of one received overlay message, whatever transport brought it, and the sending
// of the replies it queued.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include <boost/asio/awaitable.hpp>
#include <boost/system/result.hpp>

#include "p2p_core/identity/keys.hpp"
#include "p2p_core/net/socket_addr.hpp"
#include "p2p_core/node/error.hpp"
#include "p2p_core/node/node_inner.hpp"
#include "p2p_core/node/transmit.hpp"
#include "p2p_core/node/udp_binding.hpp"

namespace valdori::node {

struct Replies {
  p2p::node::UdpTransmits udp;
  p2p::node::TcpTransmits tcp;
};

// Short-header data by its receive short id, else a checked long header by sender kind and
// type. `binding` is the receiving UDP binding (none for a TCP frame), `arrival_link` the super
// peer whose TCP link carried the message (none for UDP). The message is disarmed in place. On
// an error nothing queued is returned.
boost::system::result<Replies, p2p::node::error::Error> on_packet(p2p::node::NodeInner& node,
                                                                  std::span<std::uint8_t> message,
                                                                  const p2p::net::SocketAddr& source,
                                                                  const p2p::node::UdpBinding* binding,
                                                                  const std::optional<p2p::PubKey>& arrival_link);

// Sends the replies of one dispatch, one after the other: every UDP reply in order, then every
// TCP reply in order. A failed UDP reply is logged and the rest still go out.
boost::asio::awaitable<void> send_replies(p2p::node::NodeInner& node, Replies replies);

}  // namespace valdori::node
