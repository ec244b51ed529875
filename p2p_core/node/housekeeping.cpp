// The housekeeping steps of NodeInner that the node's periodic pass runs.
#include <algorithm>
#include <limits>

#include "p2p_core/node/logger.hpp"
#include "p2p_core/node/node_inner.hpp"
#include "p2p_core/node/udp_socket.hpp"

namespace valdori::p2p::node {
namespace {

bool is_wanted(const UdpBinding& binding, std::span<const net::InterfaceAddr> wanted) {
  return std::ranges::any_of(wanted, [&](const auto& entry) { return entry.addr == binding.local_addr().address(); });
}

}  // namespace

void NodeInner::remove_stale_peers_housekeeping() {
  const std::uint64_t now = current_time();
  const std::uint64_t timeout = opts_.hello_timeout;
  const std::uint64_t quiet_limit = timeout > std::numeric_limits<std::uint64_t>::max() / 2 ? timeout : 2 * timeout;
  for (const auto& [key, entry] : peers_.snapshot()) {
    const auto node_peer = peer::as_node_peer(entry);
    if (!node_peer || !node_peer->is_stale(now, quiet_limit)) continue;
    peers_.remove_node_peer(node_peer);
    VLOG_TRACE(node_logger(), "Removed stale node peer {}", key);
  }
  recount_strangers();
}

std::uint16_t NodeInner::bind_port(std::uint16_t bound) {
  std::uint16_t expected = 0;
  port_.compare_exchange_strong(expected, bound, std::memory_order_relaxed);
  return port();
}

UdpBindings NodeInner::udp_bindings_housekeeping(std::span<const net::InterfaceAddr> interface_addrs) {
  std::vector<net::InterfaceAddr> configured;
  for (const auto& addr : opts_.udp_addrs) configured.push_back({{}, addr});
  const std::span<const net::InterfaceAddr> wanted = configured.empty() ? interface_addrs : configured;

  UdpBindings dropped;
  bindings_.update([&](UdpBindings& bindings) {
    dropped.clear();
    for (const auto& binding : bindings)
      if (binding->token().is_cancelled() || !is_wanted(*binding, wanted)) dropped.push_back(binding);
    std::erase_if(bindings, [&](const auto& binding) { return std::ranges::find(dropped, binding) != dropped.end(); });
    return !dropped.empty();
  });
  for (const auto& binding : dropped) {
    binding->cancel_binding();
    VLOG_DEBUG(node_logger(), "Dropped UDP binding {}", *binding);
  }

  UdpBindings added;
  const auto current = udp_bindings();
  for (const auto& entry : wanted) {
    const bool bound = std::ranges::any_of(
        *current, [&](const auto& binding) { return binding->local_addr().address() == entry.addr; });
    if (bound) continue;
    for (std::size_t i = 0; i < opts_.udp_sockets; ++i) {
      const net::SocketAddr addr(entry.addr, port());
      auto socket = new_udp_reuseport(executor_, addr);
      if (!socket) {
        VLOG_AT_FIELDS(node_logger(), log::Level::warn, (log::Fields{{"addr", net::to_string(addr)}}),
                       "Failed to bind new UDP server: {}", socket.error().message());
        continue;
      }
      auto binding = UdpBinding::create(token_.child_token(), *socket, entry.name);
      if (!binding) {
        VLOG_WARN(node_logger(), "Failed to bind new UDP server: {}", error::display(binding.error()));
        continue;
      }
      bind_port((*binding)->local_addr().port());
      VLOG_DEBUG(node_logger(), "Bound UDP server {}", **binding);
      added.push_back(std::move(*binding));
    }
  }
  if (!added.empty()) {
    bindings_.update([&](UdpBindings& bindings) {
      bindings.insert(bindings.end(), added.begin(), added.end());
      return true;
    });
  }
  return added;
}

void NodeInner::default_route_housekeeping() {
  const std::uint64_t now = current_time();
  const auto current = peers_.find_super_peer(peers_.default_route());
  if (current && current->is_reachable(now, opts_.hello_timeout)) return;
  const auto reachable = std::ranges::find_if(
      super_peers_, [&](const auto& super_peer) { return super_peer->is_reachable(now, opts_.hello_timeout); });
  if (reachable == super_peers_.end() || *reachable == current) return;
  peers_.set_default_route((*reachable)->key());
  VLOG_DEBUG(node_logger(), "Default route moved to super peer {}", (*reachable)->key());
}

}  // namespace valdori::p2p::node
