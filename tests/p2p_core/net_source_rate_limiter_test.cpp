// Rate limits per source address: a burst, then one per interval; IPv6 by /64.
#include "p2p_core/net/source_rate_limiter.hpp"

#include <gtest/gtest.h>

namespace valdori::p2p::net {
namespace {

constexpr std::uint64_t kLimiterStart = 1'000'000;
constexpr std::uint64_t kInterval = 20;
constexpr std::uint32_t kBurst = 4;

boost::asio::ip::address ip(const char* text) { return boost::asio::ip::make_address(text); }

// How many of `tries` at `now` pass.
int passed(SourceRateLimiter& limiter, const char* source, int tries, std::uint64_t now) {
  int count = 0;
  for (int i = 0; i < tries; ++i) count += limiter.allow(ip(source), now) ? 1 : 0;
  return count;
}

TEST(SourceRateLimiter, ABurstThenOnePerIntervalForEachSource) {
  SourceRateLimiter limiter(kInterval, kBurst, 16);
  EXPECT_EQ(passed(limiter, "192.0.2.1", 10, kLimiterStart), 4);
  EXPECT_EQ(passed(limiter, "192.0.2.1", 10, kLimiterStart + kInterval - 1), 0);
  EXPECT_EQ(passed(limiter, "192.0.2.1", 10, kLimiterStart + kInterval), 1);
  EXPECT_EQ(passed(limiter, "192.0.2.1", 10, kLimiterStart + 10 * kInterval), 4);  // refilled, never above the burst
  EXPECT_EQ(passed(limiter, "192.0.2.2", 10, kLimiterStart), 4);
}

TEST(SourceRateLimiter, SourcesShareABucketByIpv4AddressOrIpv6Slash64) {
  struct Case {
    const char* name;
    const char* first;
    const char* second;
    bool shared;
  };
  const Case cases[] = {
      {"one /64", "2001:db8:1:2::1", "2001:db8:1:2:ffff::9", true},
      {"neighbouring /64s", "2001:db8:1:2::1", "2001:db8:1:3::1", false},
      {"IPv4 and its mapped form", "192.0.2.1", "::ffff:192.0.2.1", true},
      {"neighbouring IPv4 addresses", "192.0.2.1", "192.0.2.2", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SourceRateLimiter limiter(kInterval, kBurst, 16);
    ASSERT_EQ(passed(limiter, c.first, kBurst, kLimiterStart), 4);
    EXPECT_EQ(passed(limiter, c.second, 1, kLimiterStart), c.shared ? 0 : 1);
  }
}

TEST(SourceRateLimiter, AFullTableForgetsTheSourceUsedLeastRecently) {
  SourceRateLimiter limiter(kInterval, kBurst, 2);
  ASSERT_EQ(passed(limiter, "192.0.2.1", kBurst, kLimiterStart), 4);
  ASSERT_EQ(passed(limiter, "192.0.2.2", kBurst, kLimiterStart), 4);
  ASSERT_EQ(passed(limiter, "192.0.2.1", 1, kLimiterStart), 0);  // now the most recent
  ASSERT_EQ(passed(limiter, "192.0.2.3", 1, kLimiterStart), 1);  // pushes out 192.0.2.2
  EXPECT_EQ(passed(limiter, "192.0.2.1", 1, kLimiterStart), 0);
  EXPECT_EQ(passed(limiter, "192.0.2.2", 10, kLimiterStart), 4);  // met anew
}

}  // namespace
}  // namespace valdori::p2p::net
