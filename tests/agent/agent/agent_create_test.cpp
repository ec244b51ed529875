#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <variant>

#include "agent/agent/inner/agent_inner.hpp"
#include "agent/agent/inner/channel_sink.hpp"
#include "tests/support/agent/agent_testbed.hpp"
#include "tests/support/env_guard.hpp"
#include "tests/support/log_capture.hpp"
#include "util/runtime/race.hpp"

namespace valdori::agent {
namespace {

using testing::AgentTestbed;
using valdori::testing::EnvGuard;
using valdori::testing::LogCapture;

boost::system::result<std::shared_ptr<AgentInner>, error::Error> create(AgentTestbed& bed, AgentConfig config) {
  return bed.runtime().block_on(AgentInner::create(bed.executor(), std::move(config), {}, {}));
}

TEST(AgentCreate, FixesTheMtu) {
  struct Case {
    std::optional<std::string> arm_messages;
    std::optional<std::uint16_t> configured;
    std::uint16_t expected;
  };
  const Case cases[] = {
      {std::nullopt, std::nullopt, 1073},
      {"false", std::nullopt, 1121},
      {"False", std::nullopt, 1073},  // not a boolean: the default, armed
      {"0", std::nullopt, 1073},
      {"false", 1121, 1121},
      {"false", 1400, 1121},  // above what one message carries: clamped
      {std::nullopt, 1074, 1073},
      {std::nullopt, 68, 68},
      {std::nullopt, 67, 1073},  // below the IPv4 minimum: the default
      {"false", 0, 1121},
  };
  AgentTestbed bed;
  for (const auto& c : cases) {
    EnvGuard arm("VALDORI_ARM_MESSAGES", c.arm_messages);
    AgentConfig config = bed.config();
    config.mtu = c.configured;
    auto inner = create(bed, std::move(config));
    ASSERT_TRUE(inner);
    EXPECT_EQ((*inner)->mtu, c.expected) << c.arm_messages.value_or("unset") << " " << c.configured.value_or(0);
  }
}

TEST(AgentCreate, HoldsNoSignIn) {
  AgentTestbed bed;
  auto inner = create(bed, bed.config());
  ASSERT_TRUE(inner);
  const LoginState& login = (*inner)->state.login;
  EXPECT_EQ(login.status, LoginStatus{});
  EXPECT_TRUE(std::holds_alternative<LoginStatus::Pending>(login.status.kind));
  ASSERT_NE(login.changed, nullptr);
  EXPECT_EQ(login.changed->queued_waiters(), 0u);
  EXPECT_FALSE(bed.runtime().block_on(util::with_timeout(login.changed->notified(), std::chrono::milliseconds(20))));
  EXPECT_FALSE(login.task);
}

// Start goes ahead, but says what will not work.
TEST(AgentCreate, WarnsAboutAWeakIdentityAndMissingTasks) {
  struct Case {
    std::optional<std::string> min_difficulty, tun_threads, c2d_threads;
    log::Level level;
    std::string line;  // none expected when empty
  };
  const Case cases[] = {
      {"0", "64", "1", log::Level::warn, ""},
      {"255", std::nullopt, std::nullopt, log::Level::err,
       "The identity's proof of work is below the minimum difficulty of 255: peers will drop its messages"},
      {"0", "0", std::nullopt, log::Level::warn,
       "VALDORI_TUN_THREADS is 0: no task reads the tunnel or writes to it, so no packet passes"},
      {"0", std::nullopt, "-1", log::Level::warn,
       "VALDORI_C2D_THREADS is -1: no task sends the tunnel's packets into the overlay"},
  };
  AgentTestbed bed;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EnvGuard difficulty("VALDORI_MIN_POW_DIFFICULTY", c.min_difficulty);
    EnvGuard tun("VALDORI_TUN_THREADS", c.tun_threads);
    EnvGuard c2d("VALDORI_C2D_THREADS", c.c2d_threads);
    LogCapture capture;
    ASSERT_TRUE(create(bed, bed.config()));
    const auto lines = capture.texts(c.level);
    if (c.line.empty()) {
      EXPECT_TRUE(capture.texts(log::Level::warn).empty() && capture.texts(log::Level::err).empty());
    } else {
      EXPECT_EQ(std::count(lines.begin(), lines.end(), c.line), 1);
    }
  }
}

TEST(AgentCreate, SwitchesDnsOffOnlyWhenDisabledIsTrue) {
  const std::optional<DnsConfig> cases[] = {std::nullopt, DnsConfig{}, DnsConfig{false}, DnsConfig{true}};
  AgentTestbed bed;
  for (const auto& dns : cases) {
    AgentConfig config = bed.config();
    config.dns = dns;
    auto inner = create(bed, std::move(config));
    ASSERT_TRUE(inner);
    const bool disabled = dns && dns->disabled == true;
    EXPECT_EQ((*inner)->dns == nullptr, disabled);
    if (!disabled) {
      EXPECT_FALSE((*inner)->dns->server_ip());
    }
  }
}

TEST(AgentCreate, SetsTheControllerConnectionStatus) {
  struct Case {
    std::optional<std::string> email;
    std::optional<std::string> secret;
    ControllerConnectionStatus expected;
  };
  const Case cases[] = {
      {"me@example.org", "s3cret", {ControllerConnectionStatus::Initializing{}}},
      {std::nullopt, "s3cret", {ControllerConnectionStatus::LoggedOut{}}},
      {"me@example.org", std::nullopt, {ControllerConnectionStatus::LoggedOut{}}},
  };
  AgentTestbed bed;
  for (const auto& c : cases) {
    AgentConfig config = bed.config();
    config.controller = ControllerConfig{};
    config.controller->display_login_email = c.email;
    config.controller->shared_secret = c.secret;
    auto inner = create(bed, std::move(config));
    ASSERT_TRUE(inner);
    EXPECT_EQ((*inner)->state.config.controller->connection_status, c.expected);
  }
  auto without = create(bed, bed.config());
  ASSERT_TRUE(without);
  EXPECT_FALSE((*without)->state.config.controller);
}

TEST(AgentCreate, RefusesWhatCannotRun) {
  struct Case {
    const char* name;
    std::optional<std::string> udp_addrs;
    bool empty_super_peers;
    error::Kind expected;
    std::string text_start;
  };
  const Case cases[] = {
      {"address that is none", "127.0.0.1 not-an-address", false, error::Kind::ConfigParse,
       "Configuration parse error: Invalid udp addresses: not-an-address"},
      {"no super peer to join", "127.0.0.1", true, error::Kind::Node, "Node error: "},
  };
  AgentTestbed bed;
  for (const auto& c : cases) {
    EnvGuard addrs("VALDORI_UDP_ADDRS", c.udp_addrs);
    AgentConfig config = bed.config();
    if (c.empty_super_peers) config.super_peers = std::vector<p2p::SuperPeerUrl>{};
    auto inner = create(bed, std::move(config));
    ASSERT_FALSE(inner) << c.name;
    EXPECT_EQ(inner.error().kind(), c.expected) << c.name << ": " << inner.error().to_string();
    EXPECT_TRUE(inner.error().to_string().starts_with(c.text_start)) << inner.error().to_string();
  }
}

TEST(ChannelSink, DropsWhatAFullQueueCannotTake) {
  AgentTestbed bed;
  LogCapture logs;
  auto queue = std::make_shared<InboundQueue>(bed.executor(), 1);
  ChannelSink sink(queue);
  const p2p::PubKey sender = testing::test_identity().pk();
  sink.accept(sender, {1, 2, 3});
  sink.accept(sender, {4, 5, 6});
  EXPECT_TRUE(logs.has(log::Level::warn, "Received APP dropped: sending on a full channel"));
  auto kept = bed.runtime().block_on(queue->pop());
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->payload, (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(kept->sender, sender);
}

}  // namespace
}  // namespace valdori::agent
