// Nodes and the super peer on loopback with TCP links: opened when UDP to the super peer fails
// or TCP is enforced, carrying traffic both ways, reopened after the super peer closes them, and
// closed again once UDP answers unless TCP is enforced.
#include <memory>
#include <string>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "p2p_core/node/clock.hpp"
#include "tests/overlay_node/node_fixture.hpp"
#include "tests/support/log_capture.hpp"

namespace valdori::node::testing {
namespace {

using valdori::testing::LogCapture;

class TcpFallback : public NodeTest {
 protected:
  std::shared_ptr<p2p::peer::SuperPeer> super_peer_of(const Node& node) const {
    return node.inner()->peers().find_super_peer(super_peer_->url().pk());
  }

  // The node's current link record, once its writer is published.
  std::shared_ptr<p2p::peer::TcpConnection> published_link(const Node& node) const {
    const auto link = super_peer_of(node)->tcp_connection();
    return link && link->stream() ? link : nullptr;
  }

  bool udp_reachable(const Node& node) const {
    return super_peer_of(node)->is_udp_reachable(p2p::node::system_time_ms(), kHelloTimeout);
  }

  std::size_t passes() const {
    const auto texts = capture_.texts(log::Level::trace);
    return static_cast<std::size_t>(std::ranges::count(texts, std::string("Finished housekeeping")));
  }

  // Traffic both ways arrives intact, and the super peer relayed it over the nodes' links.
  void expect_traffic_over_links(const Node& a, const p2p::Identity& id_a, const CollectingSink& sink_a, const Node& b,
                                 const p2p::Identity& id_b, const CollectingSink& sink_b) {
    Traffic a_to_b(*this, must(a.send_handle(id_b.pk())), 'a');
    Traffic b_to_a(*this, must(b.send_handle(id_a.pk())), 'b');
    ASSERT_TRUE(
        wait_until([&] { return a_to_b.handle().state()->super_peer_tcp && b_to_a.handle().state()->super_peer_tcp; }));
    for (int i = 0; i < 10; ++i) {
      ASSERT_TRUE(a_to_b.send_next());
      ASSERT_TRUE(b_to_a.send_next());
    }
    a_to_b.expect_delivered_to(sink_b, id_a.pk());
    b_to_a.expect_delivered_to(sink_a, id_b.pk());
    EXPECT_TRUE(capture_.has_containing(log::Level::trace,
                                        fmt::format("Relay from {} to {} via tcp://", id_a.pk(), id_b.pk())));
    EXPECT_TRUE(capture_.has_containing(log::Level::trace,
                                        fmt::format("Relay from {} to {} via tcp://", id_b.pk(), id_a.pk())));
  }

  LogCapture capture_;
};

TEST_F(TcpFallback, WithoutUdpTheNodesTalkOverTheirLinks) {
  auto options = default_super_peer_options();
  options.udp_enabled = false;
  options.unite_enabled = false;  // nothing but the super peer between the nodes
  start_super_peer(options);
  const auto id_a = test_identity();
  const auto id_b = test_identity();
  const auto sink_a = std::make_shared<CollectingSink>();
  const auto sink_b = std::make_shared<CollectingSink>();
  const Node a = bind(node_opts(id_a, sink_a));
  const Node b = bind(node_opts(id_b, sink_b));
  ASSERT_TRUE(wait_until([&] { return super_peer_reachable(a) && super_peer_reachable(b); }));
  ASSERT_TRUE(published_link(a) && published_link(b));
  EXPECT_FALSE(udp_reachable(a));
  expect_traffic_over_links(a, id_a, *sink_a, b, id_b, *sink_b);
}

TEST_F(TcpFallback, EnforcedLinksCarryTheTrafficAndStayWhileUdpAnswers) {
  auto options = default_super_peer_options();
  options.unite_enabled = false;
  start_super_peer(options);
  const NodeSetup setup{.enforce_tcp = true};
  const auto id_a = test_identity();
  const auto id_b = test_identity();
  const auto sink_a = std::make_shared<CollectingSink>();
  const auto sink_b = std::make_shared<CollectingSink>();
  const Node a = bind(node_opts(id_a, sink_a, setup));
  const Node b = bind(node_opts(id_b, sink_b, setup));
  ASSERT_TRUE(
      wait_until([&] { return published_link(a) && published_link(b) && udp_reachable(a) && udp_reachable(b); }));
  const auto link_a = published_link(a);

  const std::size_t seen = passes();
  ASSERT_TRUE(wait_until([&] { return passes() >= seen + 6; }));  // a few passes with UDP answering
  EXPECT_EQ(published_link(a), link_a);
  EXPECT_FALSE(capture_.has_containing(log::Level::trace, "TCP connection not longer required"));
  expect_traffic_over_links(a, id_a, *sink_a, b, id_b, *sink_b);
}

TEST_F(TcpFallback, ALinkTheSuperPeerClosesIsReopenedByALaterPass) {
  auto options = default_super_peer_options();
  options.udp_enabled = false;
  start_super_peer(options);
  const Node a = bind(node_opts(test_identity(), std::make_shared<CollectingSink>()));
  ASSERT_TRUE(wait_until([&] { return published_link(a) != nullptr && super_peer_->tcp_links() == 1; }));
  const auto first = published_link(a);

  super_peer_->close_tcp_links();
  ASSERT_TRUE(wait_until([&] { return first->token().is_cancelled(); }));
  // The end of the stream, or a reset when the super peer closed with bytes unread.
  EXPECT_TRUE(capture_.has_containing(log::Level::err, fmt::format("super_peer={}", super_peer_->url().pk())));
  ASSERT_TRUE(wait_until([&] {
    const auto link = published_link(a);
    return link && link != first && super_peer_reachable(a);
  }));
  EXPECT_EQ(super_peer_->tcp_links(), 1u);
}

TEST_F(TcpFallback, TheLinkClosesOnceUdpAnswersAgain) {
  auto options = default_super_peer_options();
  options.udp_enabled = false;
  start_super_peer(options);
  const Node a = bind(node_opts(test_identity(), std::make_shared<CollectingSink>()));
  ASSERT_TRUE(wait_until([&] { return published_link(a) != nullptr; }));
  const auto link = published_link(a);

  super_peer_->enable_udp();
  ASSERT_TRUE(wait_until([&] { return link->token().is_cancelled(); }));
  EXPECT_TRUE(udp_reachable(a));
  EXPECT_TRUE(capture_.has_containing(log::Level::trace, "TCP connection not longer required"));
  // The super peer sees the connection end, and no pass opens another while UDP answers.
  ASSERT_TRUE(wait_until([&] { return super_peer_->tcp_links() == 0; }));
  const std::size_t seen = passes();
  ASSERT_TRUE(wait_until([&] { return passes() >= seen + 3; }));
  EXPECT_EQ(super_peer_of(a)->tcp_connection(), nullptr);
  EXPECT_EQ(super_peer_->tcp_links(), 0u);
}

}  // namespace
}  // namespace valdori::node::testing
