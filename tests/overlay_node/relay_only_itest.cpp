// Two nodes that never go direct, because their super peer introduces nobody or because they
// ignore its introductions: their traffic stays relayed, and intact.
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "p2p_core/node/clock.hpp"
#include "tests/overlay_node/node_fixture.hpp"
#include "tests/support/log_capture.hpp"

namespace valdori::node::testing {
namespace {

// The node has greeted `peer` through the super peer and heard back that way.
bool relay_path_confirmed(const Node& node, const p2p::PubKey& peer, const p2p::PubKey& super_peer) {
  const auto node_peer = node.inner()->peers().find_node_peer(peer);
  const auto path = node_peer ? node_peer->relay_paths().find(super_peer) : std::nullopt;
  return path && (*path)->is_reachable(p2p::node::interval_time_ms(), kHelloTimeout);
}

bool has_direct_path(const Node& node, const p2p::PubKey& peer) {
  const auto node_peer = node.inner()->peers().find_node_peer(peer);
  return node_peer && !node_peer->paths().snapshot()->empty();
}

enum class NoUnites { SentBySuperPeer, ProcessedByNodes };

class RelayOnly : public NodeTest, public ::testing::WithParamInterface<NoUnites> {};

TEST_P(RelayOnly, TrafficStaysRelayedAndIntact) {
  const NoUnites no_unites = GetParam();
  valdori::testing::LogCapture capture;
  auto options = default_super_peer_options();
  options.unite_enabled = no_unites != NoUnites::SentBySuperPeer;
  start_super_peer(options);
  const auto [id_a, id_b, sink_a, sink_b, a, b] =
      bind_pair({.process_unites = no_unites != NoUnites::ProcessedByNodes});

  Traffic a_to_b(*this, must(a.send_handle(id_b.pk())), 'a');
  Traffic b_to_a(*this, must(b.send_handle(id_a.pk())), 'b');
  const auto super_peer = super_peer_->url().pk();
  // Traffic makes both nodes greet each other, through the super peer only.
  ASSERT_TRUE(wait_until([&] {
    a_to_b.send_next();
    b_to_a.send_next();
    return relay_path_confirmed(a, id_b.pk(), super_peer) && relay_path_confirmed(b, id_a.pk(), super_peer);
  }));
  EXPECT_FALSE(has_direct_path(a, id_b.pk()));
  EXPECT_FALSE(has_direct_path(b, id_a.pk()));
  EXPECT_FALSE(a_to_b.handle().state()->best_direct_path);
  EXPECT_EQ(capture.has(log::Level::trace, "Ignoring unite message"), no_unites == NoUnites::ProcessedByNodes);

  a_to_b.expect_delivered_to(*sink_b, id_a.pk());
  b_to_a.expect_delivered_to(*sink_a, id_b.pk());
}

INSTANTIATE_TEST_SUITE_P(Cases, RelayOnly, ::testing::Values(NoUnites::SentBySuperPeer, NoUnites::ProcessedByNodes),
                         [](const auto& test) {
                           return test.param == NoUnites::SentBySuperPeer ? "NoneSent" : "NoneProcessed";
                         });

}  // namespace
}  // namespace valdori::node::testing
