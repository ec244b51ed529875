// Two nodes and the super peer on loopback: traffic starts relayed, the super peer introduces
// the nodes to each other, and from then on it flows directly, with short headers.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "p2p_core/message/short_header.hpp"
#include "tests/overlay_node/node_fixture.hpp"
#include "tests/support/log_capture.hpp"

namespace valdori::node::testing {
namespace {

using p2p::node::SendHandle;
using valdori::testing::LogCapture;

bool goes_direct(const SendHandle& handle) {
  const auto state = handle.state();
  return state->best_direct_path && state->tx_short_id;
}

std::size_t relays_between(const LogCapture& capture, const p2p::PubKey& a, const p2p::PubKey& b) {
  const auto texts = capture.texts(log::Level::trace);
  return std::ranges::count_if(texts, [&](const std::string& text) {
    return text.starts_with(fmt::format("Relay from {} to {}", a, b)) ||
           text.starts_with(fmt::format("Relay from {} to {}", b, a));
  });
}

class RelayThenDirect : public NodeTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    auto options = default_super_peer_options();
    options.arm_messages = GetParam();  // a super peer serves unarmed nodes only when told to
    start_super_peer(options);
  }
};

TEST_P(RelayThenDirect, TrafficGoesDirectOnceTheSuperPeerHasIntroducedTheNodes) {
  LogCapture capture;
  const auto [id_a, id_b, sink_a, sink_b, a, b] = bind_pair({.arm_messages = GetParam()});

  Traffic a_to_b(*this, must(a.send_handle(id_b.pk())), 'a');
  Traffic b_to_a(*this, must(b.send_handle(id_a.pk())), 'b');
  ASSERT_FALSE(goes_direct(a_to_b.handle()));
  ASSERT_TRUE(a_to_b.send_next());
  a_to_b.expect_delivered_to(*sink_b, id_a.pk());
  EXPECT_GE(relays_between(capture, id_a.pk(), id_b.pk()), 1u);

  // Traffic keeps the paths in use while the nodes greet each other over them.
  ASSERT_TRUE(wait_until([&] {
    a_to_b.send_next();
    b_to_a.send_next();
    return goes_direct(a_to_b.handle()) && goes_direct(b_to_a.handle());
  }));
  // One more refresh of the send state: greetings relayed before the paths answered are through.
  const auto direct_state = a_to_b.handle().state();
  ASSERT_TRUE(wait_until([&] {
    a_to_b.send_next();
    b_to_a.send_next();
    return a_to_b.handle().state() != direct_state;
  }));

  capture.clear();
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(a_to_b.send_next());
    ASSERT_TRUE(b_to_a.send_next());
  }
  a_to_b.expect_delivered_to(*sink_b, id_a.pk());
  b_to_a.expect_delivered_to(*sink_a, id_b.pk());
  EXPECT_EQ(relays_between(capture, id_a.pk(), id_b.pk()), 0u);
  EXPECT_TRUE(capture.has_containing(log::Level::debug, "Sent APP via udp://"));
}

// Between housekeeping passes (here only the first one runs): the paths that the introduction
// opens carry the traffic from their first answer on, in both directions.
TEST_P(RelayThenDirect, TrafficGoesDirectAsSoonAsThePathsAnswerWithoutAwaitingAPass) {
  LogCapture capture;
  const auto [id_a, id_b, sink_a, sink_b, a, b] =
      bind_pair({.arm_messages = GetParam(), .housekeeping_interval = 3'600'000});

  Traffic a_to_b(*this, must(a.send_handle(id_b.pk())), 'a');
  Traffic b_to_a(*this, must(b.send_handle(id_a.pk())), 'b');
  ASSERT_TRUE(wait_until([&] {
    a_to_b.send_next();
    b_to_a.send_next();
    return a_to_b.handle().state()->best_direct_path && b_to_a.handle().state()->best_direct_path;
  }));
  // Messages relayed before the paths answered may still be on their way through the super peer.
  a_to_b.expect_delivered_to(*sink_b, id_a.pk());
  b_to_a.expect_delivered_to(*sink_a, id_b.pk());
  capture.clear();
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(a_to_b.send_next());
    ASSERT_TRUE(b_to_a.send_next());
  }
  a_to_b.expect_delivered_to(*sink_b, id_a.pk());
  b_to_a.expect_delivered_to(*sink_a, id_b.pk());
  EXPECT_EQ(relays_between(capture, id_a.pk(), id_b.pk()), 0u);
}

TEST_P(RelayThenDirect, AShortHeaderMessageOfTheMaximumLengthPassesAndOneByteMoreIsRefused) {
  const auto [id_a, id_b, sink_a, sink_b, a, b] = bind_pair({.arm_messages = GetParam()});
  Traffic a_to_b(*this, must(a.send_handle(id_b.pk())), 'a');
  ASSERT_TRUE(wait_until([&] {
    a_to_b.send_next();
    return goes_direct(a_to_b.handle());
  }));

  const auto state = a_to_b.handle().state();
  const std::size_t overhead = must(p2p::message::ShortHeader::build(*state->tx_short_id, state->tx_key, {})).size();
  const std::size_t max = a.inner()->max_message_len();
  ASSERT_TRUE(a_to_b.send(payload('m', 0, max - overhead)));
  const auto too_long = send(a_to_b.handle(), payload('m', 1, max - overhead + 1));
  ASSERT_FALSE(too_long);
  const auto error = too_long.error();
  const auto* refused = error.get_if<p2p::node::error::AppLenInvalid>();
  ASSERT_NE(refused, nullptr);
  EXPECT_EQ(refused->length, max + 1);
  EXPECT_EQ(refused->max, max);
  a_to_b.expect_delivered_to(*sink_b, id_a.pk());
}

INSTANTIATE_TEST_SUITE_P(ArmedAndUnarmed, RelayThenDirect, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) { return param.param ? "Armed" : "Unarmed"; });

}  // namespace
}  // namespace valdori::node::testing
