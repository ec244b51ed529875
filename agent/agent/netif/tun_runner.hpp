// The tunnel side of the packet path: the supervisor the first desired-state application
// starts, the runner it awaits, and the tunnel-to-overlay tasks the runner owns.
#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/system/result.hpp>
#include <memory>
#include <string>

#include "agent/agent/netif/tun_to_overlay.hpp"
#include "platform/tun/tun_device.hpp"
#include "util/runtime/cancellation_token.hpp"

namespace valdori::agent {
class AgentInner;
}

namespace valdori::agent::netif {

// The executor a tunnel device is best made on: the outbound lane of the runtime `executor`
// belongs to. The descriptor wakes the reactor it is registered with for every packet the
// applications send, and those wake-ups are for the lane's readers; registered with the shared
// threads, it would wake one of them per burst for nothing.
boost::asio::any_io_executor tun_device_executor(const boost::asio::any_io_executor& executor);

// Runs the tunnel runner over `device` until `token` is cancelled; without a device it ends at
// once. A runner that fails or throws is logged ("TUN runner failed: ") and cancels the agent
// token. Started once per agent; `clock` goes to the workers.
boost::asio::awaitable<void> tun_supervisor(std::shared_ptr<AgentInner> inner,
                                            std::shared_ptr<platform::TunDevice> device, util::CancellationToken token,
                                            ReadClock clock = std::chrono::steady_clock::now);

// VALDORI_TUN_THREADS tunnel-to-overlay tasks over `device`, on the outbound lane. Succeeds once
// they have all ended through `token`; fails with "TUN task failed: " and the description when
// one ends abnormally (a device gone for good among them).
boost::asio::awaitable<boost::system::result<void, std::string>> tun_runner(
    std::shared_ptr<AgentInner> inner, std::shared_ptr<platform::TunDevice> device, util::CancellationToken token,
    ReadClock clock = std::chrono::steady_clock::now);

}  // namespace valdori::agent::netif
