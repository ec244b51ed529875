// The tunnel-to-overlay workers: they read the packets applications send into the tunnel and
// queue each for the peer the transmit trie names, answer DNS queries to the agent's responder,
// and reflect packets addressed to their own source.
#pragma once

#include <cstdint>
#include <memory>

#include <boost/asio/awaitable.hpp>

#include "platform/tun/tun_device.hpp"
#include "util/runtime/cancellation_token.hpp"

namespace valdori::agent {
class AgentInner;
}

namespace valdori::agent::netif {

// VALDORI_TUN_THREADS: how many workers carry each direction between the tunnel and the
// overlay; 3 when unset or not a number.
std::int32_t tun_threads();

// Worker `index` of `count` reading `device`, until `token` (the tunnel token) is cancelled. A
// failed read cancels `token`, which stops every worker of the tunnel for good.
boost::asio::awaitable<void> tun_to_overlay(std::shared_ptr<AgentInner> inner,
                                            std::shared_ptr<platform::TunDevice> device, util::CancellationToken token,
                                            std::int32_t index, std::int32_t count);

}  // namespace valdori::agent::netif
