// The queue-to-overlay workers: they take the packets the tunnel readers queued and send each
// to its peer over the overlay.
#pragma once

#include <cstdint>
#include <memory>

#include <boost/asio/awaitable.hpp>

#include "agent/agent/inner/agent_inner.hpp"
#include "util/runtime/cancellation_token.hpp"

namespace valdori::agent {

// Worker `index` of `count`: sends queued packets, one at a time, until `token` is cancelled.
// A closed queue cancels `token`.
boost::asio::awaitable<void> queue_to_overlay(std::shared_ptr<OutboundQueue> queue, util::CancellationToken token,
                                              std::int32_t index, std::int32_t count);

}  // namespace valdori::agent
