#include "agent/agent/inner/start_options.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

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

}  // namespace
}  // namespace valdori::agent
