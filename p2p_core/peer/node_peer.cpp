#include "p2p_core/peer/node_peer.hpp"

#include <algorithm>
#include <cstring>

#include "p2p_core/identity/pow.hpp"
#include "p2p_core/node/clock.hpp"

namespace valdori::p2p::peer {
namespace {

std::uint64_t pack_pow_state(Pow pow, PowStatus status) {
  return static_cast<std::uint64_t>(status) << 32 | static_cast<std::uint32_t>(pow.value());
}
Pow pow_of(std::uint64_t state) { return Pow(static_cast<std::int32_t>(static_cast<std::uint32_t>(state))); }
PowStatus status_of(std::uint64_t state) { return static_cast<PowStatus>(state >> 32); }

std::uint32_t pack_short_id(const message::ShortId& id) {
  std::uint32_t packed;
  std::memcpy(&packed, id.bytes.data(), sizeof packed);
  return packed;
}
message::ShortId unpack_short_id(std::uint32_t packed) {
  message::ShortId id;
  std::memcpy(id.bytes.data(), &packed, sizeof packed);
  return id;
}

}  // namespace

std::string_view debug(PowStatus status) {
  switch (status) {
    case PowStatus::Unknw: return "Unknw";
    case PowStatus::Ok: return "Ok";
    case PowStatus::Nok: return "Nok";
  }
  return "Unknw";
}

NodePeer::NodePeer(const PubKey& key, Pow pow, std::optional<crypto::SessionKeys> session_keys, std::uint64_t now,
                   const PubKey& default_route)
    : key_(key),
      session_keys_(std::move(session_keys)),
      created_at_(now),
      pow_state_(pack_pow_state(pow, PowStatus::Ok)),
      best_sp_(default_route) {}

std::optional<crypto::SessionKey> NodePeer::rx_key() const {
  if (!session_keys_) return std::nullopt;
  return session_keys_->rx;
}

std::optional<crypto::SessionKey> NodePeer::tx_key() const {
  if (!session_keys_) return std::nullopt;
  return session_keys_->tx;
}

PowStatus NodePeer::pow() const { return status_of(pow_state_.load(std::memory_order_relaxed)); }

bool NodePeer::validate_pow(Pow pow, std::uint8_t min_difficulty) {
  const std::uint64_t state = pow_state_.load(std::memory_order_relaxed);
  if (pow_of(state) == pow && status_of(state) != PowStatus::Unknw) return status_of(state) == PowStatus::Ok;
  const bool valid = pow_meets_difficulty(key_, pow, min_difficulty);
  pow_state_.store(pack_pow_state(pow, valid ? PowStatus::Ok : PowStatus::Nok), std::memory_order_relaxed);
  return valid;
}

message::ShortId NodePeer::rx_short_id() const { return unpack_short_id(rx_short_id_.load(std::memory_order_acquire)); }

void NodePeer::set_rx_short_id(const message::ShortId& id) {
  rx_short_id_.store(pack_short_id(id), std::memory_order_release);
}

std::optional<message::ShortId> NodePeer::tx_short_id() const {
  const std::uint32_t packed = tx_short_id_.load(std::memory_order_acquire);
  if (packed == 0) return std::nullopt;
  return unpack_short_id(packed);
}

void NodePeer::set_tx_short_id(const std::optional<message::ShortId>& id) {
  tx_short_id_.store(id ? pack_short_id(*id) : 0, std::memory_order_release);
}

bool NodePeer::has_app_traffic(std::uint64_t now, std::uint64_t window) const {
  const std::uint64_t last = std::max(app_rx_time(), app_tx_time());
  return last != 0 && node::elapsed_ms(now, last) <= window;
}

void NodePeer::app_tx(std::uint64_t time) {
  std::uint64_t recorded = app_tx_->load(std::memory_order_relaxed);
  while (recorded < time) {
    if (app_tx_->compare_exchange_weak(recorded, time, std::memory_order_relaxed)) return;
  }
}

void NodePeer::clear_app_tx_rx() {
  app_rx_.store(0, std::memory_order_relaxed);
  app_tx_->store(0, std::memory_order_relaxed);
}

std::uint64_t NodePeer::last_active() const {
  return std::max({created_at_, heard_.load(std::memory_order_relaxed), app_rx_time(), app_tx_time()});
}

bool NodePeer::is_stale(std::uint64_t now, std::uint64_t quiet_limit) const {
  return node::elapsed_ms(now, last_active()) > quiet_limit;
}

std::pair<std::shared_ptr<PeerPath>, bool> NodePeer::add_path(const PeerPathKey& key) {
  auto [path, added] = paths_.get_or_insert(
      key, [] { return std::make_shared<PeerPath>(); }, kMaxDirectPaths);
  return {path.value_or(nullptr), added};
}

std::vector<PeerPathKey> NodePeer::remove_stale_paths(std::uint64_t now, std::uint64_t hello_timeout) {
  return paths_.erase_if(
      [&](const PeerPathKey&, const std::shared_ptr<PeerPath>& path) { return path->is_stale(now, hello_timeout); });
}

bool NodePeer::is_reachable(std::uint64_t now, std::uint64_t hello_timeout) const {
  const auto paths = paths_.snapshot();
  return std::ranges::any_of(*paths, [&](const auto& entry) { return entry.second->is_reachable(now, hello_timeout); });
}

std::optional<RankedPath> NodePeer::best_path(std::uint64_t now, std::uint64_t hello_timeout) const {
  auto ranked = rank_paths(paths_, now, hello_timeout);
  if (ranked.empty() || !ranked.front().second->is_reachable(now, hello_timeout)) return std::nullopt;
  return std::move(ranked.front());
}

std::optional<PeerPathKey> NodePeer::best_path_key(std::uint64_t now, std::uint64_t hello_timeout) const {
  const auto best = best_path(now, hello_timeout);
  if (!best) return std::nullopt;
  return best->first;
}

void NodePeer::update_best_relay(std::uint64_t now, std::uint64_t hello_timeout, const PubKey& default_route) {
  const auto ranked = rank_paths(relay_paths_, now, hello_timeout);
  const bool relay_reachable = !ranked.empty() && ranked.front().second->is_reachable(now, hello_timeout);
  best_sp_.store(relay_reachable ? ranked.front().first : default_route);
}

}  // namespace valdori::p2p::peer
