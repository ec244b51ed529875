// An entry of the peers list: a configured super peer or a node peer met on the way.
#pragma once

#include <memory>
#include <variant>

#include "p2p_core/peer/node_peer.hpp"
#include "p2p_core/peer/super_peer.hpp"

namespace valdori::p2p::peer {

using Peer = std::variant<std::shared_ptr<SuperPeer>, std::shared_ptr<NodePeer>>;

inline std::shared_ptr<SuperPeer> as_super_peer(const Peer& peer) {
  const auto* super_peer = std::get_if<std::shared_ptr<SuperPeer>>(&peer);
  return super_peer ? *super_peer : nullptr;
}

inline std::shared_ptr<NodePeer> as_node_peer(const Peer& peer) {
  const auto* node_peer = std::get_if<std::shared_ptr<NodePeer>>(&peer);
  return node_peer ? *node_peer : nullptr;
}

}  // namespace valdori::p2p::peer
