#include <gtest/gtest.h>

#include <algorithm>

#include "agent/agent/inner/agent_inner.hpp"
#include "packet_path_fixture.hpp"
#include "tests/support/env_guard.hpp"

namespace valdori::agent::testing {
namespace {

using valdori::testing::EnvGuard;

constexpr const char* kWriterStarted = "Valdori -> tun packet processing task started";
constexpr const char* kWriterExit = "Token cancelled. Exiting Valdori -> tun packet processing task";
constexpr const char* kSenderStarted = "channel -> Valdori processing task started";
constexpr const char* kSenderExit = "Token cancelled. Exiting channel -> Valdori processing task";

class NodeRunnerTest : public PacketPathTest {
 protected:
  void start_runner(const std::shared_ptr<AgentInner>& inner) { spawn(AgentInner::node_runner(inner, inner->token)); }

  bool wait_count(const char* fragment, std::size_t n) {
    return wait_until([&] { return count_logs(log::Level::trace, fragment) == n; });
  }

  // The texts of the overlay side's events, in order.
  std::vector<std::string> node_lines() const {
    std::vector<std::string> lines;
    for (const auto& event : logs_.events())
      if (event.target == kNodeTarget) lines.push_back(event.text);
    return lines;
  }
};

TEST_F(NodeRunnerTest, StartsTheConfiguredWorkersAndStopsWithTheAgentToken) {
  struct Case {
    std::optional<std::string> senders;
    std::optional<std::string> writers;
    int expected_senders;
    int expected_writers;
  };
  const Case cases[] = {
      {std::nullopt, std::nullopt, 3, 3},
      {"+2", "2 ", 2, 3},
      {"abc", "-1", 3, 0},
      {"-1", "abc", 0, 3},
      {"0", "1", 0, 1},
  };
  for (const auto& c : cases) {
    const std::string name = c.senders.value_or("unset") + "/" + c.writers.value_or("unset");
    EnvGuard senders("VALDORI_C2D_THREADS", c.senders);
    EnvGuard writers("VALDORI_TUN_THREADS", c.writers);
    logs_.clear();
    auto inner = make_inner();
    start_runner(inner);
    EXPECT_TRUE(wait_count(kWriterStarted, c.expected_writers)) << name;
    EXPECT_TRUE(wait_count(kSenderStarted, c.expected_senders)) << name;

    inner->token.cancel();
    EXPECT_TRUE(wait_log(log::Level::trace, "Node runner done.")) << name;
    for (int i = 1; i <= c.expected_writers; ++i) {
      const std::string number = " (" + std::to_string(i) + "/" + std::to_string(c.expected_writers) + ").";
      EXPECT_TRUE(logs_.has(log::Level::trace, kWriterStarted + number)) << name;
      EXPECT_TRUE(logs_.has(log::Level::trace, kWriterExit + number)) << name;
    }
    for (int i = 1; i <= c.expected_senders; ++i) {
      const std::string number = " (" + std::to_string(i) + "/" + std::to_string(c.expected_senders) + ").";
      EXPECT_TRUE(logs_.has(log::Level::trace, kSenderStarted + number)) << name;
      EXPECT_TRUE(logs_.has(log::Level::trace, kSenderExit + number)) << name;
    }
    EXPECT_EQ(count_logs(log::Level::trace, kWriterStarted), static_cast<std::size_t>(c.expected_writers)) << name;
    EXPECT_EQ(count_logs(log::Level::trace, kSenderStarted), static_cast<std::size_t>(c.expected_senders)) << name;

    // Every member ended through the token: nothing ended early, and the runner ends last.
    const auto lines = node_lines();
    const std::size_t members = 1 + c.expected_writers + c.expected_senders;
    ASSERT_EQ(lines.size(), 2 * members) << name;  // starts and exits, the watcher's one line
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Node token cancelled."), 1) << name;
    EXPECT_EQ(lines.back(), "Node runner done.") << name;
  }
}

TEST_F(NodeRunnerTest, TheNodeStoppingOnItsOwnStopsTheAgent) {
  auto inner = make_inner();
  start_runner(inner);
  EXPECT_TRUE(wait_count(kSenderStarted, 3));

  inner->node->inner()->token().cancel();
  EXPECT_TRUE(wait_log(log::Level::trace, "Node runner done."));
  EXPECT_TRUE(inner->token.is_cancelled());
  const auto lines = node_lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Node has cancelled prematurely."), 1);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Task prematurely finished. Cancel token."), 1);
  EXPECT_EQ(count_logs(log::Level::trace, kWriterExit), 3u);
  EXPECT_EQ(count_logs(log::Level::trace, kSenderExit), 3u);
}

TEST_F(NodeRunnerTest, AClosedQueueStopsTheAgent) {
  const std::pair<bool, std::string> cases[] = {
      {true, "Failed to receive packet from Valdori. Cancel token: "},
      {false, "Failed to receive packet from channel. Cancel token: "},
  };
  for (const auto& [inbound, line] : cases) {
    logs_.clear();
    auto inner = make_inner();
    start_runner(inner);
    EXPECT_TRUE(wait_count(kSenderStarted, 3));
    EXPECT_TRUE(wait_count(kWriterStarted, 3));

    if (inbound) {
      inner->inbound->close();
    } else {
      inner->outbound->close();
    }
    EXPECT_TRUE(wait_log(log::Level::trace, "Node runner done.")) << line;
    EXPECT_TRUE(inner->token.is_cancelled());
    // Once the token is cancelled the other workers end quietly; only those that saw the
    // failure at the same moment report it too.
    const std::size_t reports = count_logs(log::Level::err, line);
    EXPECT_GE(reports, 1u);
    EXPECT_LE(reports, 3u);
    EXPECT_EQ(count_logs(log::Level::trace, kWriterExit), 3u);
    EXPECT_EQ(count_logs(log::Level::trace, kSenderExit), 3u);
  }
}

TEST_F(NodeRunnerTest, QueuedPacketsReachTheirPeer) {
  auto inner = make_inner();
  auto peer = make_inner(bed_.config(), false);
  start_runner(inner);
  const auto handle = send_handle(*inner, peer->identity.pk());
  const Bytes packet = udp_packet("10.0.0.7", 1, "10.1.0.1", 2, Bytes(500, 0x42));

  // Queued again until the relay through the super peer carries it: the nodes have just started.
  std::optional<InboundItem> received;
  ASSERT_TRUE(wait_until([&] {
    EXPECT_FALSE(inner->outbound->try_push(OutboundItem{packet, handle}));
    received = pop(*peer->inbound, std::chrono::milliseconds(200));
    return received.has_value();
  }));
  EXPECT_EQ(received->sender, inner->identity.pk());
  EXPECT_EQ(received->payload, packet);
}

TEST_F(NodeRunnerTest, AFailedSendCostsOnlyItsPacket) {
  auto inner = make_inner();
  start_runner(inner);
  const p2p::PubKey peer = new_key();
  const auto handle = send_handle(*inner, peer);
  handle->close();

  EXPECT_FALSE(inner->outbound->try_push(OutboundItem{Bytes(60, 0x45), handle}));
  const std::string key = peer.to_string();
  EXPECT_TRUE(wait_log(log::Level::warn, "Failed to send packet to Valdori network: recipient=" + key +
                                             ", packet_size=60 bytes, error=Send handle closed packet_size=60 "
                                             "recipient=" +
                                             key + " error=SendHandleClosed"));
  EXPECT_FALSE(inner->token.is_cancelled());
}

}  // namespace
}  // namespace valdori::agent::testing
