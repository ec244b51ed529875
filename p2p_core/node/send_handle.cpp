#include "p2p_core/node/send_handle.hpp"

namespace valdori::p2p::node {
namespace {

// Before the first refresh: no way to the recipient but the arming key.
SendHandleState initial_state(const std::optional<crypto::SessionKey>& tx_key) {
  SendHandleState state;
  state.tx_key = tx_key;
  state.app_tx = std::make_shared<std::atomic<std::uint64_t>>(0);
  return state;
}

}  // namespace

SendHandle::SendHandle(const PubKey& recipient, std::shared_ptr<NodeInner> node,
                       std::optional<crypto::SessionKey> tx_key)
    : recipient_(recipient), tx_key_(tx_key), node_(std::move(node)), state_(initial_state(tx_key)) {}

}  // namespace valdori::p2p::node
