#include "p2p_core/node/guards.hpp"

namespace valdori::p2p::node {

UdpBindingGuard::~UdpBindingGuard() {
  if (!node_) return;
  binding_->cancel_binding();
  node_->remove_udp_binding(*binding_);
}

TcpPathGuard::~TcpPathGuard() {
  if (!node_) return;
  record_->cancel_connection();
  if (const auto super_peer = node_->peers().find_super_peer(super_peer_)) super_peer->release_tcp_path(record_);
}

}  // namespace valdori::p2p::node
