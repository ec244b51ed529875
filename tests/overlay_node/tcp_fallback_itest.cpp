// Nodes and a super peer that answers no UDP on loopback: both open TCP links to it, and their
// traffic flows both ways over them, relayed by the super peer. When links open, close and reopen
// is the housekeeping's concern, tested with the super peer step.
#include <memory>
#include <string>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "p2p_core/node/clock.hpp"
#include "tests/overlay_node/node_fixture.hpp"
#include "tests/support/log_capture.hpp"

namespace valdori::node::testing {
namespace {

// The node's current link record, once its writer is published.
std::shared_ptr<p2p::peer::TcpConnection> published_link(const Node& node, const p2p::PubKey& super_peer) {
  const auto link = node.inner()->peers().find_super_peer(super_peer)->tcp_connection();
  return link && link->stream() ? link : nullptr;
}

TEST_F(NodeTest, WithoutUdpTheNodesTalkOverTheirLinks) {
  valdori::testing::LogCapture capture;
  auto options = default_super_peer_options();
  options.udp_enabled = false;
  options.unite_enabled = false;  // nothing but the super peer between the nodes
  start_super_peer(options);
  const auto super_peer = super_peer_->url().pk();
  const auto [id_a, id_b, sink_a, sink_b, a, b] = bind_pair();
  ASSERT_TRUE(published_link(a, super_peer) && published_link(b, super_peer));
  EXPECT_FALSE(
      a.inner()->peers().find_super_peer(super_peer)->is_udp_reachable(p2p::node::interval_time_ms(), kHelloTimeout));

  Traffic a_to_b(*this, must(a.send_handle(id_b.pk())), 'a');
  Traffic b_to_a(*this, must(b.send_handle(id_a.pk())), 'b');
  ASSERT_TRUE(
      wait_until([&] { return a_to_b.handle().state()->super_peer_tcp && b_to_a.handle().state()->super_peer_tcp; }));
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(a_to_b.send_next());
    ASSERT_TRUE(b_to_a.send_next());
  }
  a_to_b.expect_delivered_to(*sink_b, id_a.pk());
  b_to_a.expect_delivered_to(*sink_a, id_b.pk());
  for (const auto& [from, to] : {std::pair(id_a.pk(), id_b.pk()), std::pair(id_b.pk(), id_a.pk())})
    EXPECT_TRUE(capture.has_containing(log::Level::trace, fmt::format("Relay from {} to {} via tcp://", from, to)));
}

}  // namespace
}  // namespace valdori::node::testing
