// The overlay-to-tunnel workers: they take the packets peers sent this node and write those the
// receive trie allows into the tunnel.
#pragma once

#include <cstdint>
#include <memory>

#include <boost/asio/awaitable.hpp>

#include "agent/agent/inner/agent_inner.hpp"
#include "util/runtime/cancellation_token.hpp"

namespace valdori::agent {

// Worker `index` of `count` over `queue`, until `token` is cancelled. A closed queue cancels
// `token`.
boost::asio::awaitable<void> overlay_to_tun(std::shared_ptr<InboundQueue> queue, std::shared_ptr<AgentInner> inner,
                                            util::CancellationToken token, std::int32_t index, std::int32_t count);

}  // namespace valdori::agent
