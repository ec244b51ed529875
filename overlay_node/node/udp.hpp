// The reader task of one UDP binding.
#pragma once

#include <memory>

#include <boost/asio/awaitable.hpp>

#include "p2p_core/node/node_inner.hpp"
#include "p2p_core/node/udp_binding.hpp"

namespace valdori::node {

// Receives datagrams on `binding` and dispatches each, sending its replies before the next is
// read, until the binding's token is cancelled. Holds the binding's guard for its whole life.
boost::asio::awaitable<void> udp_reader(std::shared_ptr<p2p::node::NodeInner> node,
                                        std::shared_ptr<p2p::node::UdpBinding> binding);

// Starts udp_reader detached on a strand of the node's executor: nothing joins it.
void spawn_udp_reader(std::shared_ptr<p2p::node::NodeInner> node, std::shared_ptr<p2p::node::UdpBinding> binding);

}  // namespace valdori::node
