// Send handles: which are given out, and the send state the refresh swaps in.
#include <gtest/gtest.h>

#include "node_fixture.hpp"

namespace valdori::p2p::node_test {
namespace {

class NodeSendHandles : public NodeFixture {};

TEST_F(NodeSendHandles, RefusedForTheNodeItselfAndForSuperPeers) {
  make_node();
  const auto to_self = node->send_handle(self_id().pk());
  ASSERT_FALSE(to_self);
  EXPECT_TRUE(to_self.error().is<node::error::SendToSelf>());
  const auto to_super_peer = node->send_handle(super_id().pk());
  ASSERT_FALSE(to_super_peer);
  EXPECT_TRUE(to_super_peer.error().is<node::error::RecipientIsSuperPeer>());
}

TEST_F(NodeSendHandles, OneLiveHandlePerRecipient) {
  make_node();
  auto first = must(node->send_handle(other_id().pk()));
  EXPECT_EQ(must(node->send_handle(other_id().pk())), first);
  first.reset();  // dropped by its user: a new one is made
  const auto second = must(node->send_handle(other_id().pk()));
  EXPECT_EQ(second->recipient(), other_id().pk());
  EXPECT_EQ(must(node->send_handle(other_id().pk())), second);
  node->send_handles_housekeeping();
  EXPECT_EQ(must(node->send_handle(other_id().pk())), second);
}

TEST_F(NodeSendHandles, AnUnknownPeerIsReachedThroughTheDefaultSuperPeer) {
  make_node();
  const auto handle = must(node->send_handle(other_id().pk()));
  const auto state = handle->state();
  EXPECT_FALSE(state->best_direct_path);
  EXPECT_FALSE(state->tx_short_id);
  EXPECT_EQ(state->tx_key, key_from_node(other_id()));  // what the peer disarms with
  ASSERT_EQ(state->relay_targets.size(), 1u);
  EXPECT_EQ(state->relay_targets[0].addr, kSuperPeerAddr);
  EXPECT_EQ(state->relay_targets[0].socket, binding->socket());
  EXPECT_FALSE(state->super_peer_tcp);
}

TEST_F(NodeSendHandles, RefreshSwapsInTheReachableDirectPathAndShortId) {
  make_node();
  const auto handle = must(node->send_handle(other_id().pk()));
  const auto before = handle->state();
  const auto peer = admit_other();
  const auto their_id = message::ShortId::random();
  peer->set_tx_short_id(their_id);
  peer->add_path({binding->local_addr(), kOtherAddr}).first->ack_rx(us(now), now - 3, kOtherAddr);
  const auto writer = std::make_shared<IdleLinkWriter>();
  super_peer->new_tcp_path(token)->set_stream(writer);

  node->send_handles_housekeeping();
  const auto after = handle->state();
  EXPECT_NE(after, before);
  EXPECT_FALSE(before->best_direct_path);  // a snapshot taken earlier never changes
  ASSERT_TRUE(after->best_direct_path);
  EXPECT_EQ(after->best_direct_path->addr, kOtherAddr);
  EXPECT_EQ(after->best_direct_path->socket, binding->socket());
  EXPECT_EQ(after->tx_short_id, their_id);
  EXPECT_EQ(after->super_peer_tcp, writer);
  EXPECT_EQ(after->app_tx, peer->app_tx_cell());

  now += kHelloTimeout + 1;  // the path's answer is too old now
  node->send_handles_housekeeping();
  EXPECT_FALSE(handle->state()->best_direct_path);
}

TEST_F(NodeSendHandles, ASendBeforeThePeerWasKnownIsRecordedOnThePeer) {
  struct Case {
    const char* name;
    std::uint64_t sent_before;  // what the handle's sends stamped, 0: none
    std::uint64_t peer_sent;    // what the peer holds when it is found
    std::uint64_t recorded;
  };
  const Case cases[] = {
      {"no send", 0, 0, 0},
      {"a first send", kStart - 5, 0, kStart - 5},
      {"the peer's later send stays", kStart - 5, kStart - 1, kStart - 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    make_node();
    const auto handle = must(node->send_handle(other_id().pk()));
    handle->state()->app_tx->store(c.sent_before);  // as a send stamps it
    const auto peer = admit_other();
    peer->app_tx_cell()->store(c.peer_sent);
    node->send_handles_housekeeping();
    EXPECT_EQ(peer->app_tx_time(), c.recorded);
    EXPECT_EQ(handle->state()->app_tx, peer->app_tx_cell());
  }
}

}  // namespace
}  // namespace valdori::p2p::node_test
