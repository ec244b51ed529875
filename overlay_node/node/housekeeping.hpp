// The node's periodic housekeeping: one task for the node's whole life that runs a pass over
// stale peers, bindings, endpoint candidates, every peer, the default route and the send
// handles, at once and then once per housekeeping interval.
#pragma once

#include <memory>

#include <boost/asio/awaitable.hpp>
#include <boost/system/result.hpp>

#include "p2p_core/node/error.hpp"
#include "p2p_core/node/node_inner.hpp"
#include "util/runtime/cancellation_token.hpp"

namespace valdori::node {

// Runs passes until `token` is cancelled (seen between passes only). A failed pass is logged and
// the next tick runs a new one. Run it on a strand (a TaskSet member is on one): it races the
// timer against the token.
boost::asio::awaitable<void> housekeeping_runner(std::shared_ptr<p2p::node::NodeInner> node,
                                                 util::CancellationToken token);

// One pass. The first failing step ends it with that step's error.
boost::asio::awaitable<boost::system::result<void, p2p::node::error::Error>> housekeeping(
    std::shared_ptr<p2p::node::NodeInner> node);

}  // namespace valdori::node
