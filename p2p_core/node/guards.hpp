// Guards that node tasks hold for their whole life; releasing one cleans up after the task.
#pragma once

#include <memory>

#include "p2p_core/identity/keys.hpp"
#include "p2p_core/node/node_inner.hpp"
#include "p2p_core/node/udp_binding.hpp"
#include "p2p_core/peer/tcp_connection.hpp"

namespace valdori::p2p::node {

// Held by the reader of a UDP binding. On release the binding leaves the node's list, so that
// no path is sent over it any more and the next housekeeping binds its address anew.
class UdpBindingGuard {
 public:
  UdpBindingGuard(std::shared_ptr<NodeInner> node, std::shared_ptr<UdpBinding> binding)
      : node_(std::move(node)), binding_(std::move(binding)) {}
  UdpBindingGuard(UdpBindingGuard&&) noexcept = default;
  UdpBindingGuard& operator=(UdpBindingGuard&&) = delete;
  ~UdpBindingGuard();

 private:
  std::shared_ptr<NodeInner> node_;  // none once moved from
  std::shared_ptr<UdpBinding> binding_;
};

// Held by one TCP link attempt to a super peer. On release the attempt's link is withdrawn
// (token fired, writer gone) and its record leaves the super peer, so that a later pass may
// start a new attempt.
class TcpPathGuard {
 public:
  TcpPathGuard(std::shared_ptr<NodeInner> node, const PubKey& super_peer, std::shared_ptr<peer::TcpConnection> record)
      : node_(std::move(node)), super_peer_(super_peer), record_(std::move(record)) {}
  TcpPathGuard(TcpPathGuard&&) noexcept = default;
  TcpPathGuard& operator=(TcpPathGuard&&) = delete;
  ~TcpPathGuard();

  const std::shared_ptr<NodeInner>& node() const { return node_; }
  const PubKey& super_peer() const { return super_peer_; }

 private:
  std::shared_ptr<NodeInner> node_;  // none once moved from
  PubKey super_peer_;
  std::shared_ptr<peer::TcpConnection> record_;
};

}  // namespace valdori::p2p::node
