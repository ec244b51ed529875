// The send handles of NodeInner: making them and keeping their send states current.
#include "p2p_core/node/node_inner.hpp"

namespace valdori::p2p::node {

NodeInner::RelayRoute NodeInner::relay_route(std::uint64_t now) const {
  RelayRoute route;
  const auto super_peer = peers_.find_super_peer(peers_.default_route());
  if (!super_peer) return route;
  for (const auto& [key, path] : super_peer->ranked_udp_paths(now, opts_.hello_timeout)) {
    if (auto socket = udp_socket_for(key.local)) route.targets.push_back({key.remote, std::move(socket)});
  }
  route.tcp = super_peer->tcp_stream();
  return route;
}

SendHandleState NodeInner::send_state_for(const SendHandle& handle, const RelayRoute& relay, std::uint64_t now) const {
  SendHandleState state;
  state.tx_key = handle.tx_key();
  state.relay_targets = relay.targets;
  state.super_peer_tcp = relay.tcp;
  state.app_tx = handle.state()->app_tx;
  const auto peer = peers_.find_node_peer(handle.recipient());
  if (!peer) return state;
  // Sends made before the peer was known stamped the handle's own cell: the peer takes them over.
  if (state.app_tx != peer->app_tx_cell()) peer->app_tx(state.app_tx->load(std::memory_order_acquire));
  state.app_tx = peer->app_tx_cell();
  state.tx_short_id = peer->tx_short_id();
  if (const auto best = peer->best_path(now, opts_.hello_timeout)) {
    if (auto socket = udp_socket_for(best->first.local))
      state.best_direct_path = UdpTarget{best->first.remote, std::move(socket)};
  }
  return state;
}

void NodeInner::send_handles_housekeeping() {
  const std::uint64_t now = current_time();
  const RelayRoute relay = relay_route(now);
  const auto handles = send_handles_.snapshot();
  for (const auto& [key, weak_handle] : *handles) {
    if (const auto handle = weak_handle.lock()) handle->set_state(send_state_for(*handle, relay, now));
  }
  send_handles_.erase_if([](const PubKey&, const std::weak_ptr<SendHandle>& handle) { return handle.expired(); });
}

void NodeInner::refresh_send_handle(const PubKey& recipient, std::uint64_t now) {
  const auto known = send_handles_.find(recipient);
  if (!known) return;
  if (const auto handle = known->lock()) handle->set_state(send_state_for(*handle, relay_route(now), now));
}

boost::system::result<std::shared_ptr<SendHandle>, error::Error> NodeInner::send_handle(const PubKey& recipient) {
  if (recipient == pk()) return error::SendToSelf{};
  if (peers_.find_super_peer(recipient)) return error::RecipientIsSuperPeer{recipient};
  if (const auto known = send_handles_.find(recipient)) {
    if (auto handle = known->lock()) return handle;
  }
  const auto keys = peer::session_keys_for(agreement_keys_, recipient);
  if (!keys) return error::PeerError{keys.error()};
  auto handle =
      std::make_shared<SendHandle>(recipient, shared_from_this(), *keys ? std::optional((*keys)->tx) : std::nullopt);
  const std::uint64_t now = current_time();
  handle->set_state(send_state_for(*handle, relay_route(now), now));
  for (;;) {
    const auto [stored, added] = send_handles_.get_or_insert(recipient, [&] { return std::weak_ptr(handle); });
    if (added) return handle;
    if (auto other = stored->lock()) return other;  // made meanwhile by another task
    send_handles_.erase_if(
        [&](const PubKey& key, const std::weak_ptr<SendHandle>& known) { return key == recipient && known.expired(); });
  }
}

void NodeInner::close_send_handles() {
  const auto handles = send_handles_.snapshot();
  for (const auto& [key, weak_handle] : *handles) {
    if (const auto handle = weak_handle.lock()) handle->close();
  }
  send_handles_.clear();
}

}  // namespace valdori::p2p::node
