// The housekeeping step of one super peer: opens the TCP fallback when UDP has failed (or TCP is
// enforced) and closes it once a UDP path answers again, prunes and re-resolves the super peer's
// UDP paths, and greets it over every UDP path and its published link.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <boost/asio/awaitable.hpp>
#include <boost/system/result.hpp>

#include "overlay_node/node/span_log.hpp"
#include "p2p_core/node/error.hpp"
#include "p2p_core/node/node_inner.hpp"
#include "p2p_core/peer/super_peer.hpp"

namespace valdori::peer {

// `now` is the pass's time; `endpoint_candidates` the encoded endpoints this pass advertises;
// `pass` the span of the pass the step belongs to.
// Fails only when the HELLO cannot be built (MessageError), after the pruning and the lookup
// have taken effect. Send failures are logged and survived.
boost::asio::awaitable<boost::system::result<void, p2p::node::error::Error>> super_peer_housekeeping(
    std::shared_ptr<p2p::node::NodeInner> node, std::shared_ptr<p2p::peer::SuperPeer> super_peer, std::uint64_t now,
    const std::vector<std::uint8_t>& endpoint_candidates, const node::SpanLog* pass = nullptr);

}  // namespace valdori::peer
