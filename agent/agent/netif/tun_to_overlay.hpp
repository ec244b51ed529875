// The tunnel-to-overlay workers: they read the packets applications send into the tunnel and
// queue each for the peer the transmit trie names, answer DNS queries to the agent's responder,
// and reflect packets this node sends to one of its own addresses.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include <boost/asio/awaitable.hpp>

#include "platform/tun/tun_device.hpp"
#include "util/runtime/cancellation_token.hpp"
#include "util/runtime/turns.hpp"

namespace valdori::agent {
class AgentInner;
}

namespace valdori::agent::netif {

// VALDORI_TUN_THREADS: how many workers carry each direction between the tunnel and the
// overlay; 3 when unset or not a number.
std::int32_t tun_threads();

// The time by which a worker judges how long its reads have been failing; tests turn their own.
using ReadClock = std::function<std::chrono::steady_clock::time_point()>;

// Worker `index` of `count` reading `device`, until `token` (the tunnel token) is cancelled; the
// workers of one device share `turns`, so that one at a time waits on it and queues a burst. A
// failed read is logged and retried after a growing pause; when the device is gone for good
// (EBADF, ENODEV, end of file, or failures for 30 seconds by `clock`) the worker fails.
boost::asio::awaitable<void> tun_to_overlay(std::shared_ptr<AgentInner> inner,
                                            std::shared_ptr<platform::TunDevice> device,
                                            std::shared_ptr<util::Turns> turns, util::CancellationToken token,
                                            std::int32_t index, std::int32_t count,
                                            ReadClock clock = std::chrono::steady_clock::now);

}  // namespace valdori::agent::netif
