// The housekeeping steps of the node state, driven by the test clock: stale peers and the
// default route.
#include <gtest/gtest.h>

#include "node_fixture.hpp"

namespace valdori::p2p::node_test {
namespace {

class NodeHousekeeping : public NodeFixture {};

TEST_F(NodeHousekeeping, QuietNodePeersAreDroppedWithTheirShortIds) {
  struct Case {
    const char* name;
    std::uint64_t heard_after;  // ms after admission; 0: never
    std::uint64_t check_after;
    bool dropped;
  };
  const std::uint64_t limit = 2 * kHelloTimeout;
  const Case cases[] = {
      {"quiet up to the limit", 0, limit, false},
      {"quiet past the limit", 0, limit + 1, true},
      {"heard since", limit, limit + 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    now = kStart;
    make_node();
    const auto peer = admit_other();
    const auto short_id = peer->rx_short_id();
    if (c.heard_after) peer->heard(kStart + c.heard_after);
    now = kStart + c.check_after;
    node->remove_stale_peers_housekeeping();
    EXPECT_EQ(node->peers().find(other_id().pk()).has_value(), !c.dropped);
    EXPECT_EQ(node->peers().find_by_short_id(short_id).has_value(), !c.dropped);
    EXPECT_TRUE(node->peers().find_super_peer(super_id().pk()));  // super peers always stay
  }
}

TEST_F(NodeHousekeeping, DefaultRouteMovesOnlyWhenItsSuperPeerIsUnreachable) {
  make_node({.second_super_peer = true});
  node->default_route_housekeeping();  // none reachable: it stays on the first
  EXPECT_EQ(node->peers().default_route(), super_id().pk());
  const auto answer = [&](peer::SuperPeer& target, const net::SocketAddr& at) {
    (*target.udp_paths().find({binding->local_addr(), at}))->ack_rx(us(now), now - 1, at);
  };
  answer(*second_super_peer, kSecondSuperPeerAddr);
  node->default_route_housekeeping();
  EXPECT_EQ(node->peers().default_route(), second_super_id().pk());

  answer(*super_peer, kSuperPeerAddr);
  node->default_route_housekeeping();
  EXPECT_EQ(node->peers().default_route(), second_super_id().pk());  // still reachable: no flapping

  now += kHelloTimeout / 2;
  answer(*super_peer, kSuperPeerAddr);
  now += kHelloTimeout / 2 + 1;  // the second one's answer is now too old
  node->default_route_housekeeping();
  EXPECT_EQ(node->peers().default_route(), super_id().pk());
}

}  // namespace
}  // namespace valdori::p2p::node_test
