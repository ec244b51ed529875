// The node-peer rules: proof-of-work verdicts, traffic, staleness, paths and the best relay.
#include <gtest/gtest.h>

#include "p2p_core/peer/node_peer.hpp"
#include "tests/p2p_core/node/node_fixture.hpp"

namespace valdori::p2p::node_test {
namespace {

peer::NodePeer make_peer() {
  return peer::NodePeer(other_id().pk(), other_id().pow(), std::nullopt, kStart, super_id().pk());
}

TEST(NodePeerRules, PowVerdictFollowsThePowLastChecked) {
  auto peer = make_peer();
  EXPECT_EQ(peer.pow(), peer::PowStatus::Ok);  // admitted after the check
  struct Step {
    Pow pow;
    bool valid;
    peer::PowStatus status;
  };
  const Step steps[] = {
      {weak_pow(other_id().pk()), false, peer::PowStatus::Nok},
      {other_id().pow(), true, peer::PowStatus::Ok},
  };
  for (const auto& step : steps) {
    EXPECT_EQ(peer.validate_pow(step.pow, kDifficulty), step.valid);
    EXPECT_EQ(peer.pow(), step.status);
  }
}

TEST(NodePeerRules, ApplicationTrafficWindow) {
  struct Case {
    const char* name;
    std::uint64_t rx;
    std::uint64_t tx;
    std::uint64_t now;
    bool traffic;
  };
  const std::uint64_t w = kHelloTimeout;
  const Case cases[] = {
      {"none ever", 0, 0, kStart, false},
      {"received within the window", kStart, 0, kStart + w, true},
      {"received before the window", kStart, 0, kStart + w + 1, false},
      {"sent within the window", 0, kStart, kStart + w, true},
      {"the later of both counts", kStart, kStart + 10, kStart + w + 5, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto peer = make_peer();
    peer.app_rx(c.rx);
    peer.app_tx_cell()->store(c.tx);
    EXPECT_EQ(peer.has_app_traffic(c.now, w), c.traffic);
    peer.clear_app_tx_rx();
    EXPECT_FALSE(peer.has_app_traffic(c.now, w));
  }
}

TEST(NodePeerRules, StaleOnlyWhenQuietInBothDirections) {
  struct Case {
    const char* name;
    std::uint64_t heard;
    std::uint64_t app_rx;
    std::uint64_t app_tx;
    std::uint64_t quiet_for;  // after the latest of creation and activity
    bool stale;
  };
  const std::uint64_t limit = 2 * kHelloTimeout;
  const Case cases[] = {
      {"new peer, within the limit", 0, 0, 0, limit, false},
      {"new peer, past the limit", 0, 0, 0, limit + 1, true},
      {"heard later", kStart + 1000, 0, 0, limit, false},
      {"received from later, past the limit", 0, kStart + 1000, 0, limit + 1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto peer = make_peer();
    if (c.heard) peer.heard(c.heard);
    peer.app_rx(c.app_rx);
    peer.app_tx_cell()->store(c.app_tx);
    const std::uint64_t latest = std::max({kStart, c.heard, c.app_rx, c.app_tx});
    EXPECT_EQ(peer.is_stale(latest + c.quiet_for, limit), c.stale);
  }
}

TEST(NodePeerRules, DirectPathsAreCapped) {
  auto peer = make_peer();
  for (std::size_t i = 0; i < peer::kMaxDirectPaths; ++i) {
    const auto [path, added] =
        peer.add_path({addr("127.0.0.1", 1), addr("127.0.0.1", static_cast<std::uint16_t>(2 + i))});
    ASSERT_TRUE(path);
    ASSERT_TRUE(added);
  }
  const auto [refused, added] = peer.add_path({addr("127.0.0.1", 1), addr("127.0.0.2", 1)});
  EXPECT_FALSE(refused);
  EXPECT_FALSE(added);
  const auto [known, added_again] = peer.add_path({addr("127.0.0.1", 1), addr("127.0.0.1", 2)});
  EXPECT_TRUE(known);
  EXPECT_FALSE(added_again);
}

TEST(NodePeerRules, StalePathsGoReachableOnesStay) {
  auto peer = make_peer();
  const peer::PeerPathKey unanswered{addr("127.0.0.1", 1), addr("127.0.0.1", 2)};
  const peer::PeerPathKey answered{addr("127.0.0.1", 1), addr("127.0.0.1", 3)};
  peer.add_path(unanswered).first->hello_tx(kStart, us(kStart));
  const auto path = peer.add_path(answered).first;
  path->hello_tx(kStart, us(kStart));
  path->ack_rx(us(kStart + 5), kStart, answered.remote);
  const std::uint64_t later = kStart + kHelloTimeout + 1;
  EXPECT_EQ(peer.remove_stale_paths(later, kHelloTimeout), std::vector<peer::PeerPathKey>{unanswered});
  EXPECT_EQ(peer.best_path_key(kStart + 10, kHelloTimeout), answered);
  EXPECT_FALSE(peer.best_path_key(later + kHelloTimeout, kHelloTimeout));  // no longer reachable
}

TEST(NodePeerRules, BestRelayIsTheReachableRelayElseTheDefaultRoute) {
  auto peer = make_peer();
  const PubKey default_route = super_id().pk();
  const PubKey other_super = second_super_id().pk();
  peer.update_best_relay(kStart, kHelloTimeout, default_route);
  EXPECT_EQ(peer.best_sp(), default_route);

  const auto relay =
      *peer.relay_paths().get_or_insert(other_super, [] { return std::make_shared<peer::PeerPath>(); }).first;
  peer.update_best_relay(kStart, kHelloTimeout, default_route);
  EXPECT_EQ(peer.best_sp(), default_route);  // a relay path never answered does not count
  relay->ack_rx(us(kStart), kStart - 1, kSecondSuperPeerAddr);
  peer.update_best_relay(kStart, kHelloTimeout, default_route);
  EXPECT_EQ(peer.best_sp(), other_super);
}

}  // namespace
}  // namespace valdori::p2p::node_test
