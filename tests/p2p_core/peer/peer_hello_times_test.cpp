// HELLO times against replays: a replay is refused whatever was forgotten, while a sender whose
// clock stepped back is served at once.
#include "p2p_core/peer/hello_times.hpp"

#include <cstdint>

#include <gtest/gtest.h>

#include "p2p_core/identity/identity.hpp"

namespace valdori::p2p::peer {
namespace {

constexpr std::uint64_t kNow = 1'700'000'000'000;
constexpr std::uint64_t kMaxAge = 60'000;

PubKey key(std::uint8_t n) {
  std::array<std::uint8_t, 32> bytes{};
  bytes[0] = n;
  return PubKey(bytes);
}

// After a HELLO of time kNow - 100 was taken from key(1).
TEST(HelloReplayWindow, RefusesReplaysAndTimesOutsideTheWindowButServesAClockThatSteppedBack) {
  struct Case {
    const char* name;
    std::uint64_t time;
    HelloVerdict verdict;
  };
  const Case cases[] = {
      {"the same HELLO again", kNow - 100, HelloVerdict::Replayed},
      {"older than the maximum age", kNow - kMaxAge - 1, HelloVerdict::TooOld},
      {"too far ahead", kNow + kMaxAge + 1, HelloVerdict::InFuture},
      {"older, unseen: the sender's clock stepped back", kNow - 50'000, HelloVerdict::Fresh},
      {"newer", kNow - 99, HelloVerdict::Fresh},
      {"at the edge of the window", kNow - kMaxAge, HelloVerdict::Fresh},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HelloReplayWindow window(16);
    ASSERT_EQ(window.accept(key(1), kNow - 100, kNow, kNow, kMaxAge), HelloVerdict::Fresh);
    EXPECT_EQ(window.accept(key(1), c.time, kNow, kNow, kMaxAge), c.verdict);
    EXPECT_EQ(window.accept(key(2), kNow - 100, kNow, kNow, kMaxAge), HelloVerdict::Fresh);  // times are per sender
  }
}

// key(1)'s HELLO of time `taken` is taken at kNow on both clocks. When the interval clock reads
// kNow + `later`, key(3) greets while the wall clock stands `greeting` off it, and key(1)'s HELLO
// is replayed while it stands `replay` off it.
TEST(HelloReplayWindow, ForgetsATakenTimeOnlyOnceNoWallClockReadingCanBringItBack) {
  struct Case {
    const char* name;
    std::uint64_t taken;
    std::uint64_t later;
    std::int64_t greeting;
    std::int64_t replay;
  };
  const Case cases[] = {
      {"the wall clock 50 s ahead for 15 s, then back", kNow - 100, 15'000, 50'000, 0},
      {"dated ahead, the wall clock ahead past its window, then back", kNow + 30'000, kMaxAge + 1, 30'000, 0},
      {"the wall clock put back while it is kept", kNow - 100, kMaxAge + 1, -30'000, -30'000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HelloReplayWindow window(16);
    ASSERT_EQ(window.accept(key(1), c.taken, kNow, kNow, kMaxAge), HelloVerdict::Fresh);
    const std::uint64_t interval = kNow + c.later;
    const std::uint64_t greeting = interval + c.greeting;
    ASSERT_EQ(window.accept(key(3), greeting, greeting, interval, kMaxAge), HelloVerdict::Fresh);
    EXPECT_EQ(window.accept(key(1), c.taken, interval + c.replay, interval, kMaxAge), HelloVerdict::Replayed);
  }
}

TEST(HelloReplayWindow, ForgettingASenderOrItsOldestTimesLetsNoReplayThrough) {
  // Two senders, two times each.
  HelloReplayWindow window(2, 2);
  ASSERT_EQ(window.accept(key(1), kNow - 3000, kNow, kNow, kMaxAge), HelloVerdict::Fresh);
  ASSERT_EQ(window.accept(key(1), kNow - 2000, kNow, kNow, kMaxAge), HelloVerdict::Fresh);
  ASSERT_EQ(window.accept(key(1), kNow - 1000, kNow, kNow, kMaxAge), HelloVerdict::Fresh);
  EXPECT_EQ(window.accept(key(1), kNow - 3000, kNow, kNow, kMaxAge), HelloVerdict::Replayed);  // forgotten time

  // A flood of new senders finds one place, then a full window: key(1) is kept.
  ASSERT_EQ(window.accept(key(10), kNow, kNow, kNow, kMaxAge), HelloVerdict::Fresh);
  for (std::uint8_t n = 11; n < 20; ++n)
    ASSERT_EQ(window.accept(key(n), kNow + n, kNow + n, kNow + n, kMaxAge), HelloVerdict::Busy);
  for (const std::uint64_t replayed : {kNow - 3000, kNow - 2000, kNow - 1000})
    EXPECT_EQ(window.accept(key(1), replayed, kNow, kNow, kMaxAge), HelloVerdict::Replayed);
  // Its next HELLO, greeting with its own clock, is served.
  EXPECT_EQ(window.accept(key(1), kNow + 5000, kNow + 5000, kNow + 5000, kMaxAge), HelloVerdict::Fresh);
}

// key(1) greets every 5 s from kNow on; at kNow six self-made senders, their HELLOs dated
// `flood_offset` from the clock, greet a window of four: three fill it. Then a newcomer greets.
TEST(HelloReplayWindow, AFloodKeepsOutOnlyNewcomersAndOnlyWhileItsRecordsGuardSomething) {
  struct Case {
    const char* name;
    std::int64_t flood_offset;
    std::uint64_t later;  // when the newcomer greets, after kNow
    HelloVerdict newcomer;
  };
  constexpr auto kAhead = static_cast<std::int64_t>(kMaxAge) - 1;
  const Case cases[] = {
      {"dated ahead, at once", kAhead, 1, HelloVerdict::Busy},
      {"dated ahead, until its times leave the window", kAhead, 2 * kMaxAge - 1, HelloVerdict::Busy},
      {"dated ahead, once they have", kAhead, 2 * kMaxAge, HelloVerdict::Fresh},
      {"dated behind, a window after they were taken", -kAhead, kMaxAge, HelloVerdict::Busy},
      {"dated behind, later", -kAhead, kMaxAge + 1, HelloVerdict::Fresh},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HelloReplayWindow window(4);
    ASSERT_EQ(window.accept(key(1), kNow, kNow, kNow, kMaxAge), HelloVerdict::Fresh);
    for (std::uint8_t n = 10; n < 16; ++n)
      EXPECT_EQ(window.accept(key(n), kNow + c.flood_offset, kNow, kNow, kMaxAge),
                n < 13 ? HelloVerdict::Fresh : HelloVerdict::Busy);
    std::uint64_t greeted = kNow;
    for (std::uint64_t at = kNow + 5000; at <= kNow + c.later; at += 5000) {
      EXPECT_EQ(window.accept(key(1), at, at, at, kMaxAge), HelloVerdict::Fresh);
      greeted = at;
    }
    EXPECT_EQ(window.accept(key(1), greeted, kNow + c.later, kNow + c.later, kMaxAge), HelloVerdict::Replayed);
    EXPECT_EQ(window.accept(key(2), kNow + c.later, kNow + c.later, kNow + c.later, kMaxAge), c.newcomer);
  }
}

TEST(HelloReplayWindow, SendersSilentForTheWholeWindowAreForgottenHarmlessly) {
  HelloReplayWindow window(2);
  ASSERT_EQ(window.accept(key(1), kNow, kNow, kNow, kMaxAge), HelloVerdict::Fresh);
  const std::uint64_t later = kNow + kMaxAge + 1;
  // key(1)'s record has left the window: a newcomer meets no floor above its own HELLO.
  EXPECT_EQ(window.accept(key(2), later - kMaxAge, later, later, kMaxAge), HelloVerdict::Fresh);
  EXPECT_EQ(window.accept(key(1), kNow, later, later, kMaxAge), HelloVerdict::TooOld);
}

TEST(HelloClock, CountsUpWithinOneMillisecondAndFollowsAClockThatSteppedBack) {
  HelloClock clock;
  EXPECT_EQ(clock.next(kNow), kNow);
  EXPECT_EQ(clock.next(kNow), kNow + 1);  // several paths in one pass
  EXPECT_EQ(clock.next(kNow + 1 - HelloClock::kStepBackMs), kNow + 2);
  EXPECT_FALSE(clock.is_in_future(kNow + 2, kNow));
  EXPECT_TRUE(clock.is_in_future(kNow + 3, kNow));
  const std::uint64_t stepped_back = kNow - 30'000;
  EXPECT_EQ(clock.next(stepped_back), stepped_back);
  EXPECT_EQ(clock.next(stepped_back + 10), stepped_back + 10);
}

}  // namespace
}  // namespace valdori::p2p::peer
