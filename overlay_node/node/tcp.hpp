// The TCP fallback link to a super peer: one task per connection attempt, which connects, sends
// the node's HELLO as the first frame, publishes the link's writer on the attempt's link record
// and dispatches every frame it reads, until the record's token fires or the link fails.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include <boost/asio/awaitable.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "p2p_core/crypto/session_keys.hpp"
#include "p2p_core/identity/keys.hpp"
#include "p2p_core/node/guards.hpp"
#include "p2p_core/node/node_inner.hpp"
#include "p2p_core/peer/tcp_connection.hpp"

namespace valdori::node {

// How long a connect to one of the super peer's addresses may take.
inline constexpr std::chrono::milliseconds kConnectLimit{5000};

// One attempt on `addr` ("host:port"), for the super peer and node named by `guard`. The connect
// races the link token, a child of the node token, so a stopping node or a cancelled link ends a
// connect that hangs; each address gets `connect_limit`. Ending releases `guard`, which withdraws
// the link. Run it on a strand: it races the connect against the token.
boost::asio::awaitable<void> tcp_connector(std::string addr, std::shared_ptr<p2p::peer::TcpConnection> link,
                                           p2p::node::TcpPathGuard guard, std::optional<p2p::crypto::SessionKey> tx_key,
                                           std::chrono::milliseconds connect_limit = kConnectLimit);

// Starts tcp_connector detached on a strand of the node's executor; nothing waits for it.
void spawn_tcp_connector(std::string addr, std::shared_ptr<p2p::peer::TcpConnection> link,
                         p2p::node::TcpPathGuard guard, std::optional<p2p::crypto::SessionKey> tx_key);

// Runs one established connection to `super_peer`. The HELLO carries the time at which the
// handler starts, after the connect. Shuts the connection down when it ends, so that no sender
// still holding the link's writer writes into a link nobody reads.
boost::asio::awaitable<void> tcp_stream_handler(boost::asio::ip::tcp::socket stream, std::string addr,
                                                std::shared_ptr<p2p::node::NodeInner> node,
                                                std::shared_ptr<p2p::peer::TcpConnection> link, p2p::PubKey super_peer,
                                                std::optional<p2p::crypto::SessionKey> tx_key);

}  // namespace valdori::node
