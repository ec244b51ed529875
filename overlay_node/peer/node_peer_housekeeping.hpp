// The housekeeping step of one node peer: gives it a receive short id, drops its paths without a
// binding, and while application data flows greets it over every direct path, or through every
// super peer when no direct path answers; then lets the core choose its relay.
#pragma once

#include <cstdint>
#include <memory>

#include <boost/asio/awaitable.hpp>
#include <boost/system/result.hpp>

#include "overlay_node/node/span_log.hpp"
#include "p2p_core/node/error.hpp"
#include "p2p_core/node/node_inner.hpp"
#include "p2p_core/peer/node_peer.hpp"

namespace valdori::peer {

// `now` is the pass's time; `pass` the span of the pass the step belongs to. Fails only when a HELLO cannot be built
// (MessageError); what the step changed before stays. Send failures are logged and survived.
boost::asio::awaitable<boost::system::result<void, p2p::node::error::Error>> node_peer_housekeeping(
    std::shared_ptr<p2p::node::NodeInner> node, std::shared_ptr<p2p::peer::NodePeer> peer, std::uint64_t now,
    const node::SpanLog* pass = nullptr);

}  // namespace valdori::peer
