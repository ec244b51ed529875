// What stops a node and what does not: dropping the node ends every task and link it has, and
// its send handles fail from then on; a cancelled binding alone ends only its reader, and a
// later housekeeping pass binds its address again.
#include <algorithm>
#include <future>
#include <memory>
#include <string>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "tests/overlay_node/node_fixture.hpp"
#include "tests/support/log_capture.hpp"

namespace valdori::node::testing {
namespace {

using valdori::testing::LogCapture;

class Lifecycle : public NodeTest {};

TEST_F(Lifecycle, DroppingTheNodeEndsItsTasksAndLinksAndClosesItsSendHandles) {
  LogCapture capture;
  start_super_peer();
  auto node = std::make_unique<Node>(
      bind(node_opts(test_identity(), std::make_shared<CollectingSink>(), {.enforce_tcp = true})));
  const auto super_peer = node->inner()->peers().find_super_peer(super_peer_->url().pk());
  ASSERT_TRUE(wait_until([&] { return super_peer->tcp_stream() != nullptr; }));
  const auto link = super_peer->tcp_connection();
  const auto handle = must(node->send_handle(test_identity().pk()));
  const std::size_t bindings = node->inner()->udp_bindings()->size();
  const std::weak_ptr<p2p::node::NodeInner> inner = node->inner();

  std::future<void> cancelled =
      std::async(std::launch::async, [&, wait = node->cancelled()]() mutable { runtime_.block_on(std::move(wait)); });
  node.reset();
  cancelled.get();
  // Every task has let go of the node state, and the monitor has seen the runner end.
  EXPECT_TRUE(wait_until([&] { return inner.expired(); }));
  EXPECT_TRUE(wait_until([&] { return capture.has(log::Level::trace, "Monitoring task cancelled."); }));
  EXPECT_TRUE(link->token().is_cancelled());
  const auto traces = capture.texts(log::Level::trace);
  EXPECT_EQ(std::ranges::count_if(traces,
                                  [](const std::string& text) { return text.starts_with("UDP binding cancelled: "); }),
            static_cast<std::ptrdiff_t>(bindings));
  EXPECT_FALSE(capture.has(log::Level::trace, "Task prematurely finished. Cancel token."));

  const auto sent = send(*handle, payload('x', 0, 100));
  ASSERT_FALSE(sent);
  EXPECT_TRUE(sent.error().is<p2p::node::error::SendHandleClosed>());
}

TEST_F(Lifecycle, ACancelledBindingEndsItsReaderOnlyAndIsBoundAgain) {
  LogCapture capture;
  start_super_peer();
  const auto id_a = test_identity();
  const auto id_b = test_identity();
  const auto sink_a = std::make_shared<CollectingSink>();
  const Node a = bind(node_opts(id_a, sink_a, {.udp_sockets = 1}));
  const Node b = bind(node_opts(id_b, std::make_shared<CollectingSink>()));
  ASSERT_TRUE(wait_until([&] { return super_peer_reachable(a) && super_peer_reachable(b); }));

  const auto first = a.inner()->udp_bindings()->front();
  first->cancel_binding();
  ASSERT_TRUE(
      wait_until([&] { return capture.has(log::Level::trace, fmt::format("UDP binding cancelled: {}", *first)); }));
  std::shared_ptr<p2p::node::UdpBinding> second;
  ASSERT_TRUE(wait_until([&] {
    const auto bindings = a.inner()->udp_bindings();
    if (!bindings->empty() && bindings->front() != first) second = bindings->front();
    return second != nullptr;
  }));
  EXPECT_EQ(second->local_addr(), first->local_addr());
  EXPECT_FALSE(a.inner()->token().is_cancelled());

  // The new binding has a reader: traffic to the node arrives again.
  Traffic b_to_a(*this, must(b.send_handle(id_a.pk())), 'b');
  ASSERT_TRUE(wait_until([&] {
    b_to_a.send_next();
    return sink_a->count() > 0;
  }));
}

}  // namespace
}  // namespace valdori::node::testing
