#include "p2p_core/peer/super_peer.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "p2p_core/node/clock.hpp"
#include "p2p_core/peer/path_pairing.hpp"

namespace valdori::p2p::peer {
namespace {

std::string tcp_addr_of(const SuperPeerUrl& url) {
  const bool ipv6 = url.host().find(':') != std::string::npos;
  return ipv6 ? fmt::format("[{}]:{}", url.host(), url.tcp_port()) : fmt::format("{}:{}", url.host(), url.tcp_port());
}

// Still worth waiting for: reachable, not greeted yet, or its HELLO not yet overdue.
bool udp_path_still_trying(const PeerPath& path, std::uint64_t now, std::uint64_t hello_timeout) {
  const auto inner = path.inner();
  if (is_reachable(*inner, now, hello_timeout) || !inner->hello) return true;
  return *inner->hello != 0 && node::elapsed_ms(now, *inner->hello) <= hello_timeout;
}

}  // namespace

SuperPeer::SuperPeer(const SuperPeerUrl& url, std::optional<crypto::SessionKeys> session_keys,
                     std::optional<ResolvedAddrs> resolved_addrs)
    : key_(url.pk()),
      addr_(url.addr()),
      tcp_port_(url.tcp_port()),
      tcp_addr_(tcp_addr_of(url)),
      session_keys_(std::move(session_keys)),
      resolved_addrs_(resolved_addrs ? std::make_shared<const ResolvedAddrs>(std::move(*resolved_addrs)) : nullptr) {}

std::optional<crypto::SessionKey> SuperPeer::rx_key() const {
  if (!session_keys_) return std::nullopt;
  return session_keys_->rx;
}

std::optional<crypto::SessionKey> SuperPeer::tx_key() const {
  if (!session_keys_) return std::nullopt;
  return session_keys_->tx;
}

void SuperPeer::update_resolved_addrs(ResolvedAddrs addrs) {
  resolved_addrs_.store(std::make_shared<const ResolvedAddrs>(std::move(addrs)));
}

void SuperPeer::add_paths_for_resolved_addrs(const node::UdpBindings& bindings) {
  const auto resolved = resolved_addrs();
  if (!resolved) return;
  for (const auto& key : path_keys_for(bindings, *resolved))
    udp_paths_.get_or_insert(key, [] { return std::make_shared<PeerPath>(); });
}

std::vector<PeerPathKey> SuperPeer::remove_invalid_udp_paths(std::uint64_t now, std::uint64_t hello_timeout) {
  const auto resolved = resolved_addrs();
  return udp_paths_.erase_if([&](const PeerPathKey& key, const std::shared_ptr<PeerPath>& path) {
    const bool still_resolved = resolved && std::ranges::find(*resolved, key.remote) != resolved->end();
    return !still_resolved && !path->is_reachable(now, hello_timeout);
  });
}

std::vector<RankedPath> SuperPeer::ranked_udp_paths(std::uint64_t now, std::uint64_t hello_timeout) const {
  return rank_paths(udp_paths_, now, hello_timeout);
}

std::optional<RankedPath> SuperPeer::best_udp_path(std::uint64_t now, std::uint64_t hello_timeout) const {
  auto ranked = ranked_udp_paths(now, hello_timeout);
  if (ranked.empty()) return std::nullopt;
  return std::move(ranked.front());
}

std::optional<PeerPathKey> SuperPeer::best_udp_path_key(std::uint64_t now, std::uint64_t hello_timeout) const {
  const auto best = best_udp_path(now, hello_timeout);
  if (!best) return std::nullopt;
  return best->first;
}

bool SuperPeer::is_udp_reachable(std::uint64_t now, std::uint64_t hello_timeout) const {
  const auto paths = udp_paths_.snapshot();
  return std::ranges::any_of(*paths, [&](const auto& entry) { return entry.second->is_reachable(now, hello_timeout); });
}

bool SuperPeer::is_reachable(std::uint64_t now, std::uint64_t hello_timeout) const {
  if (is_udp_reachable(now, hello_timeout)) return true;
  const auto link = tcp_connection();
  return link && link->stream() && link->path().is_reachable(now, hello_timeout);
}

bool SuperPeer::has_udp_path_to(const net::SocketAddr& remote) const {
  const auto paths = udp_paths_.snapshot();
  return std::ranges::any_of(*paths, [&](const auto& entry) { return entry.first.remote == remote; });
}

std::shared_ptr<LinkWriter> SuperPeer::tcp_stream() const {
  const auto link = tcp_connection();
  return link ? link->stream() : nullptr;
}

bool SuperPeer::establish_tcp_connection(std::uint64_t now, std::uint64_t hello_timeout, bool enforce_tcp) const {
  if (tcp_connection()) return false;
  if (enforce_tcp) return true;
  const auto paths = udp_paths_.snapshot();
  return std::ranges::none_of(
      *paths, [&](const auto& entry) { return udp_path_still_trying(*entry.second, now, hello_timeout); });
}

std::shared_ptr<TcpConnection> SuperPeer::new_tcp_path(const util::CancellationToken& node_token) {
  auto record = std::make_shared<TcpConnection>(node_token.child_token());
  tcp_connection_.store(record);
  return record;
}

void SuperPeer::release_tcp_path(const std::shared_ptr<TcpConnection>& record) {
  auto expected = record;
  tcp_connection_.compare_exchange(expected, nullptr);
}

}  // namespace valdori::p2p::peer
