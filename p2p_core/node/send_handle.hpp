// The handle through which the node's user sends to one peer. Sending reads only the handle's
// current state, an immutable snapshot that the node's housekeeping replaces whole, so a send
// takes no lock and looks nothing up about the recipient.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "p2p_core/concurrent/atomic_shared_ptr.hpp"
#include "p2p_core/concurrent/atomic_snapshot.hpp"
#include "p2p_core/crypto/session_keys.hpp"
#include "p2p_core/identity/keys.hpp"
#include "p2p_core/message/short_header.hpp"
#include "p2p_core/net/socket_addr.hpp"
#include "p2p_core/node/udp_binding.hpp"
#include "p2p_core/peer/link_writer.hpp"
#include "p2p_core/peer/node_peer.hpp"

namespace valdori::p2p::node {

class NodeInner;

// A UDP destination and the socket of the node that reaches it.
struct UdpTarget {
  net::SocketAddr addr;
  SharedUdpSocket socket;
};

struct SendHandleState {
  std::optional<message::ShortId> tx_short_id;  // the id the recipient chose for this node
  std::optional<UdpTarget> best_direct_path;    // a reachable direct path to the recipient
  std::optional<crypto::SessionKey> tx_key;
  std::vector<UdpTarget> relay_targets;              // the default super peer's paths, best first
  std::shared_ptr<peer::LinkWriter> super_peer_tcp;  // the default super peer's link, if published
  peer::AppTxCell app_tx;                            // stamped by every send
};

class SendHandle {
 public:
  SendHandle(const PubKey& recipient, std::shared_ptr<NodeInner> node, std::optional<crypto::SessionKey> tx_key);

  const PubKey& recipient() const { return recipient_; }
  const std::optional<crypto::SessionKey>& tx_key() const { return tx_key_; }

  // The node; none once the handle is closed because the node has stopped.
  std::shared_ptr<NodeInner> node() const { return node_.load(); }
  void close() { node_.store(nullptr); }

  std::shared_ptr<const SendHandleState> state() const { return state_.load(); }
  void set_state(SendHandleState state) { state_.store(std::move(state)); }

 private:
  const PubKey recipient_;
  const std::optional<crypto::SessionKey> tx_key_;
  concurrent::AtomicSharedPtr<NodeInner> node_;
  concurrent::AtomicSnapshot<SendHandleState> state_;
};

}  // namespace valdori::p2p::node
