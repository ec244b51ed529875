// How often the super peer introduces two nodes: once per interval, whichever of the two sends,
// and with bounded memory.
#include "tools/super_peer/server/unite_limiter.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace valdori::super_peer {
namespace {

p2p::PubKey key(std::uint8_t n) {
  std::array<std::uint8_t, 32> bytes{};
  bytes[0] = n;
  return p2p::PubKey(bytes);
}

const Clock::time_point kStart{std::chrono::hours(1)};

// After key(1) and key(2) were introduced at kStart, in a limiter of two pairs.
TEST(UniteLimiter, IntroducesAPairOncePerInterval) {
  struct Case {
    const char* name;
    std::uint8_t a, b;
    Clock::duration after;
    bool allowed;
  };
  const Case cases[] = {
      {"the same pair at once", 1, 2, {}, false},
      {"the other way round, just within the interval", 2, 1, UniteLimiter::kInterval - Clock::duration(1), false},
      {"once the interval has passed", 1, 2, UniteLimiter::kInterval, true},
      {"another pair", 1, 3, {}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UniteLimiter limiter(2);
    ASSERT_TRUE(limiter.allow(key(1), key(2), kStart));
    EXPECT_EQ(limiter.allow(key(c.a), key(c.b), kStart + c.after), c.allowed);
  }
}

TEST(UniteLimiter, AFullLimiterForgetsThePairUnitedLongestAgo) {
  UniteLimiter limiter(2);
  for (std::uint8_t n = 2; n < 5; ++n) ASSERT_TRUE(limiter.allow(key(1), key(n), kStart));
  EXPECT_FALSE(limiter.allow(key(1), key(4), kStart));
  EXPECT_TRUE(limiter.allow(key(1), key(2), kStart));  // pushed out: introduced again early
}

}  // namespace
}  // namespace valdori::super_peer
