#include "agent/agent/inner/start_options.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "p2p_core/node/opts_builder.hpp"
#include "tests/support/env_guard.hpp"
#include "tests/support/log_capture.hpp"

namespace valdori::agent {
namespace {

TEST(ParseUdpAddrs, SplitsAtAnyWhiteSpace) {
  struct Case {
    std::string text;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"", {}},
      {" \t\n ", {}},
      {"127.0.0.1", {"127.0.0.1"}},
      {"  127.0.0.1   ::1 ", {"127.0.0.1", "::1"}},
      {"10.0.0.1\u00A0fe80::1\u30002001:db8::5", {"10.0.0.1", "fe80::1", "2001:db8::5"}},
  };
  for (const auto& c : cases) {
    auto addrs = parse_udp_addrs(c.text);
    ASSERT_TRUE(addrs) << c.text;
    std::vector<std::string> texts;
    for (const auto& a : *addrs) texts.push_back(a.to_string());
    EXPECT_EQ(texts, c.expected) << c.text;
  }
}

TEST(ParseUdpAddrs, NamesThePieceThatIsNoAddress) {
  const std::pair<std::string, std::string> cases[] = {
      {"127.0.0.1 localhost", "localhost"},
      {"10.0.0.256", "10.0.0.256"},
      {"1.2.3.4,5.6.7.8", "1.2.3.4,5.6.7.8"},
  };
  for (const auto& [text, piece] : cases) {
    auto addrs = parse_udp_addrs(text);
    ASSERT_FALSE(addrs) << text;
    EXPECT_EQ(addrs.error(), "Invalid udp addresses: " + piece);
  }
}

// More sockets than the node builds would stop the agent at start: the count is capped instead.
TEST(StartOptions, UdpSocketsAreCappedWithAWarning) {
  valdori::testing::LogCapture capture;
  const valdori::testing::EnvGuard sockets("VALDORI_UDP_SOCKETS", "65");
  EXPECT_EQ(StartOptions::from_env().udp_sockets, p2p::node::kMaxUdpSockets);
  EXPECT_TRUE(capture.has(log::Level::warn, "VALDORI_UDP_SOCKETS is 65, above the limit of 64: using 64"));
}

}  // namespace
}  // namespace valdori::agent
