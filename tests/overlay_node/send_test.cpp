// Sending application data on a send state set by hand: which way a message takes, its header,
// the length limit, and what each failure returns and logs.
#include "overlay_node/node/send.hpp"

#include <atomic>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "p2p_core/message/layout.hpp"
#include "tests/overlay_node/node_task_fixture.hpp"

namespace valdori::node_test {
namespace {

using log::Level;
using p2p::node::SendHandleState;
using p2p::node::UdpTarget;

const Bytes kData{0x45, 0x00, 0x00, 0x1c, 9, 8, 7, 6};
// A destination the IPv4 sockets of the node cannot send to.
const p2p::net::SocketAddr kUnsendable = addr("::1", 9);

bool is_long_header(const Bytes& message) {
  return message.size() > p2p::message::kLongHeaderLen && message[0] == 0x1E && message[1] == 0x3F &&
         message[2] == 0x50 && message[3] == 0x01;
}

class Send : public NodeTaskTest {
 protected:
  void SetUp() override {
    make_node();
    handle = must(node->send_handle(other_id().pk()));
  }

  UdpTarget target(boost::asio::ip::udp::socket& remote) const { return {remote.local_endpoint(), binding->socket()}; }
  UdpTarget unsendable() const { return {kUnsendable, binding->socket()}; }

  SendHandleState state() const {
    SendHandleState state;
    state.tx_key = handle->state()->tx_key;
    state.app_tx = std::make_shared<std::atomic<std::uint64_t>>(0);
    return state;
  }
  std::uint64_t app_tx() const { return handle->state()->app_tx->load(); }

  boost::system::result<void, p2p::node::error::Error> send(const Bytes& data = kData) {
    return run(node::send(*handle, data));
  }

  const p2p::message::ShortId short_id = p2p::message::ShortId::random();
  std::shared_ptr<p2p::node::SendHandle> handle;
  boost::asio::ip::udp::socket first = remote_socket();
  boost::asio::ip::udp::socket second = remote_socket();
};

TEST_F(Send, AClosedHandleFails) {
  handle->close();
  const auto result = send();
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().is<p2p::node::error::SendHandleClosed>());
}

struct WayCase {
  std::string name;
  bool short_id;
  bool direct;
  bool short_header;  // else a long-header APP
};

class SendWay : public Send, public ::testing::WithParamInterface<WayCase> {};

// The direct path, when there is one, gets the message; a short header goes only with it.
TEST_P(SendWay, TakesTheDirectPathElseTheRelay) {
  auto s = state();
  if (GetParam().short_id) s.tx_short_id = short_id;
  if (GetParam().direct) s.best_direct_path = target(first);
  s.relay_targets = {target(second)};
  handle->set_state(s);

  ASSERT_TRUE(send());
  const auto direct = received(first);
  const auto relayed = received(second);
  ASSERT_EQ(direct.size() + relayed.size(), 1u);
  EXPECT_EQ(direct.size(), GetParam().direct ? 1u : 0u);
  const Bytes& message = direct.empty() ? relayed[0] : direct[0];
  if (GetParam().short_header) {
    EXPECT_TRUE(std::equal(short_id.bytes.begin(), short_id.bytes.end(), message.begin()));
  } else {
    EXPECT_TRUE(is_long_header(message));
  }
  EXPECT_EQ(app_tx(), node->cached_time());
  EXPECT_EQ(logs.has_containing(Level::debug, "Sent APP via udp://"), GetParam().direct);
  EXPECT_EQ(logs.has_containing(Level::trace, "Relayed APP via super peer"), !GetParam().direct);
}

INSTANTIATE_TEST_SUITE_P(Cases, SendWay,
                         ::testing::Values(WayCase{"DirectWithShortId", true, true, true},
                                           WayCase{"DirectWithoutShortId", false, true, false},
                                           WayCase{"ShortIdWithoutDirect", true, false, false},
                                           WayCase{"Neither", false, false, false}),
                         [](const ::testing::TestParamInfo<WayCase>& param) { return param.param.name; });

TEST_F(Send, AFailedDirectSendIsReturnedWithoutRelayOrLog) {
  auto s = state();
  s.best_direct_path = unsendable();
  s.relay_targets = {target(second)};
  handle->set_state(s);
  logs.clear();

  const auto result = send();
  ASSERT_FALSE(result);
  const auto error = result.error();
  const auto* failed = error.get_if<p2p::node::error::SendingDirectError>();
  ASSERT_NE(failed, nullptr);
  EXPECT_EQ(failed->addr, kUnsendable);
  EXPECT_TRUE(received(second).empty());
  EXPECT_EQ(app_tx(), node->cached_time());  // stamped before the attempt
  EXPECT_TRUE(logs.texts(Level::warn).empty());
  EXPECT_TRUE(logs.texts(Level::err).empty());
}

TEST_F(Send, ALinkTakesTheRelayedMessageUntilItEndsOrFailsThenTheUdpRelayDoes) {
  const auto working = std::make_shared<RecordingLinkWriter>();
  auto s = state();
  s.super_peer_tcp = working;
  s.relay_targets = {target(second)};
  handle->set_state(s);
  ASSERT_TRUE(send());
  ASSERT_EQ(working->frames().size(), 1u);
  EXPECT_TRUE(is_long_header(working->frames()[0]));
  EXPECT_TRUE(received(second).empty());

  // The link ends while the state still holds its writer.
  const auto link = super_peer->new_tcp_path(token);
  link->set_stream(working);
  link->cancel_connection();
  ASSERT_TRUE(send());
  EXPECT_EQ(working->frames().size(), 1u);
  EXPECT_EQ(received(second).size(), 1u);

  // A write that fails ends the link and the message goes the UDP way.
  const auto failing = std::make_shared<RecordingLinkWriter>(std::make_error_code(std::errc::broken_pipe));
  const auto next_link = super_peer->new_tcp_path(token);
  next_link->set_stream(failing);
  s.super_peer_tcp = failing;
  handle->set_state(s);
  ASSERT_TRUE(send());
  EXPECT_TRUE(logs.has_containing(Level::err, "Failed to send message to super peer via TCP, shutting it down: "));
  EXPECT_TRUE(next_link->token().is_cancelled());
  EXPECT_TRUE(failing->closed());
  EXPECT_EQ(received(second).size(), 1u);
}

TEST_F(Send, RelayTargetsAreTriedInOrderUntilOneTakesTheMessage) {
  auto third = remote_socket();
  auto s = state();
  s.relay_targets = {unsendable(), target(second), target(third)};
  handle->set_state(s);
  logs.clear();

  ASSERT_TRUE(send());
  EXPECT_EQ(received(second).size(), 1u);
  EXPECT_TRUE(received(third).empty());
  const auto warnings = logs.texts(Level::warn);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_TRUE(warnings[0].starts_with(
      fmt::format("Failed to relay APP via super peer {} -> {}: ", binding->local_addr(), kUnsendable)));
  EXPECT_TRUE(logs.has_containing(Level::trace, fmt::format("Relayed APP via super peer {} -> {}",
                                                            binding->local_addr(), second.local_endpoint())));
}

TEST_F(Send, WithNoWayToRelayTheRecipientAndSuperPeerAreReported) {
  handle->set_state(state());
  const auto result = send();
  ASSERT_FALSE(result);
  const auto error = result.error();
  const auto* failed = error.get_if<p2p::node::error::SendingRelayedError>();
  ASSERT_NE(failed, nullptr);
  EXPECT_EQ(failed->recipient, other_id().pk());
  EXPECT_EQ(failed->super_peer, super_id().pk());
  EXPECT_TRUE(logs.has_containing(Level::warn, "Failed to relay APP via super peer."));
}

}  // namespace
}  // namespace valdori::node_test
