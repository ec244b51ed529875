// The peers list: entries, the short-id index and its owners.
#include <gtest/gtest.h>

#include "p2p_core/peer/peers_list.hpp"
#include "tests/p2p_core/node/node_fixture.hpp"

namespace valdori::p2p::node_test {
namespace {

std::shared_ptr<peer::NodePeer> node_peer(const PubKey& key) {
  return std::make_shared<peer::NodePeer>(key, Pow(), std::nullopt, kStart, super_id().pk());
}

TEST(PeersList, ShortIdsBelongToOnePeerEach) {
  peer::PeersList peers(0);
  const auto a = node_peer(other_id().pk());
  const auto b = node_peer(super_id().pk());
  const auto id_a = peers.assign_rx_short_id(*a);
  const auto id_b = peers.assign_rx_short_id(*b);
  EXPECT_NE(id_a, id_b);
  EXPECT_EQ(a->rx_short_id(), id_a);
  EXPECT_EQ(peers.find_by_short_id(id_a), a->key());
  EXPECT_EQ(peers.find_by_short_id(id_b), b->key());

  peers.erase_short_id(id_a, b->key());  // not b's id
  EXPECT_EQ(peers.find_by_short_id(id_a), a->key());
}

TEST(PeersList, RemovingANodePeerRemovesItsShortIdButNotAReplacement) {
  peer::PeersList peers(0);
  const auto old_peer = node_peer(other_id().pk());
  const auto old_id = peers.assign_rx_short_id(*old_peer);
  peers.insert_or_assign(old_peer->key(), old_peer);

  const auto replacement = node_peer(other_id().pk());
  peers.insert_or_assign(replacement->key(), replacement);
  peers.remove_node_peer(old_peer);  // no longer the entry: nothing happens
  EXPECT_EQ(peers.find_node_peer(other_id().pk()), replacement);
  EXPECT_EQ(peers.find_by_short_id(old_id), other_id().pk());

  const auto new_id = peers.assign_rx_short_id(*replacement);
  peers.remove_node_peer(replacement);
  EXPECT_FALSE(peers.find(other_id().pk()));
  EXPECT_FALSE(peers.find_by_short_id(new_id));
}

}  // namespace
}  // namespace valdori::p2p::node_test
