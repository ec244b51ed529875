// The tunnel slot of the agent: the host's tunnel device (or none) and, once the tunnel tasks
// have been started, their cancellation token. The packet path reads the slot without a lock;
// the desired-state application publishes a new one whole.
#pragma once

#include <algorithm>
#include <vector>

#include <boost/asio/awaitable.hpp>
#include <boost/system/result.hpp>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "p2p_core/concurrent/atomic_snapshot.hpp"
#include "platform/tun/tun_device.hpp"
#include "util/net/ipv4_net.hpp"
#include "util/runtime/cancellation_token.hpp"

namespace valdori::agent::netif {

struct TunnelSlot {
  std::shared_ptr<platform::TunDevice> device;     // the device handed over at start, or none
  std::optional<util::CancellationToken> token;    // set once the tunnel tasks were started
  std::vector<util::net::Ipv4Addr> own_addresses;  // this node's addresses in its networks

  bool is_own_address(util::net::Ipv4Addr address) const {
    return std::find(own_addresses.begin(), own_addresses.end(), address) != own_addresses.end();
  }
};

class AgentNetif {
 public:
  explicit AgentNetif(std::shared_ptr<platform::TunDevice> device) : slot_(TunnelSlot{std::move(device), {}, {}}) {}

  std::shared_ptr<const TunnelSlot> slot() const { return slot_.load(); }
  void store_slot(TunnelSlot slot) { slot_.store(std::move(slot)); }

  // Writes one packet to the device: at once on the calling thread when the device takes it,
  // else once it can. Without a device it fails at once with a not-connected error whose text is
  // "TUN device is None".
  boost::asio::awaitable<boost::system::result<void>> send(std::span<const std::uint8_t> packet) const;
  // As send, at once and without a coroutine: would_block when the device takes no packet now.
  boost::system::result<void> try_send(std::span<const std::uint8_t> packet) const;

 private:
  p2p::concurrent::AtomicSnapshot<TunnelSlot> slot_;
};

// The error of a send without a device: "TUN device is None", equivalent to errc::not_connected.
boost::system::error_code no_tun_device_error();

}  // namespace valdori::agent::netif
