// The embedded DNS responder: it answers queries for the overlay host names that applications
// send into the tunnel to the responder address, from the current catalogue. The packet path
// reads both the address and the catalogue without a lock; the desired-state application
// replaces them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include <boost/asio/awaitable.hpp>

#include "agent/agent/dns/catalog.hpp"
#include "agent/packet/udp_header.hpp"
#include "p2p_core/concurrent/atomic_shared_ptr.hpp"
#include "platform/tun/tun_device.hpp"

namespace valdori::agent::dns {

class AgentDns {
 public:
  // An empty catalogue (no zone) and no responder address.
  AgentDns();

  // The responder address inside the tunnel; none until one is stored.
  std::optional<Ipv4Addr> server_ip() const;
  // True when a responder address is stored and equals `ip`.
  bool is_server_ip(Ipv4Addr ip) const;
  // None, or 0.0.0.0, clears the address.
  void store_server_ip(std::optional<Ipv4Addr> ip);

  // Queries already being answered finish with the catalogue they started with.
  void replace_catalog(std::shared_ptr<const DnsCatalog> catalog) { catalog_.store(std::move(catalog)); }

  // Answers one query taken from the tunnel: `message` is the UDP payload that `client` sent
  // to `responder`. Writes at most one answer packet to `device`; a message that does not
  // decode or is itself a response is dropped with a log line.
  boost::asio::awaitable<void> on_packet(std::shared_ptr<platform::TunDevice> device, packet::UdpEndpoint client,
                                         packet::UdpEndpoint responder, std::span<const std::uint8_t> message) const;

 private:
  p2p::concurrent::AtomicSharedPtr<const DnsCatalog> catalog_;
  std::atomic<std::uint32_t> server_ip_{0};  // 0: none
};

}  // namespace valdori::agent::dns
