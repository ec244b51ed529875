#include "util/log/log.hpp"

#include <gtest/gtest.h>

#include "tests/support/log_capture.hpp"

namespace valdori {
namespace {

TEST(Log, DisabledLevelEvaluatesNoArgument) {
  testing::LogCapture capture;
  log::set_level(log::Level::warn);
  int evaluated = 0;
  auto count = [&] { return ++evaluated; };
  VLOG_TRACE(log::logger("valdori_test::log"), "packet {}", count());
  VLOG_WARN(log::logger("valdori_test::log"), "dropped {}", count());
  EXPECT_EQ(evaluated, 1);
  EXPECT_EQ(capture.texts(log::Level::warn), std::vector<std::string>{"dropped 1"});
  EXPECT_TRUE(capture.texts(log::Level::trace).empty());
}

TEST(Log, FieldsFollowTheMessage) {
  testing::LogCapture capture;
  VLOG_AT_FIELDS(log::logger("valdori_test::log"), log::Level::info, (log::Fields{{"peer", "abc"}, {"port", "22527"}}),
                 "send {}", "ok");
  EXPECT_TRUE(capture.has(log::Level::info, "send ok peer=abc port=22527"));
}

TEST(Log, LoggersCreatedLaterReachAttachedSinks) {
  testing::LogCapture capture;
  VLOG_ERROR(log::logger("valdori_test::created_after_capture"), "late");
  EXPECT_TRUE(capture.has(log::Level::err, "late"));
}

// The limit on lines that outside input can repeat: a burst, then one line per interval that
// counts the lines left out.
TEST(RateLimit, PassesABurstThenOneLinePerIntervalCountingTheRest) {
  constexpr std::uint64_t t0 = 5'000'000;
  constexpr std::uint64_t burst_end = t0 + 2000 + log::RateLimit::kBurst * log::RateLimit::kIntervalMs;
  struct Step {
    std::uint64_t at;
    int lines;
    int logged;
    std::uint64_t suppressed;  // reported by the first line logged
  };
  const Step steps[] = {
      {t0, log::RateLimit::kBurst + 5, log::RateLimit::kBurst, 0},
      {t0 + 999, 100, 0, 0},
      {t0 + 1000, 3, 1, 105},
      {t0 + 2000, 1, 1, 2},
      // Quiet for a burst's worth of intervals: the whole burst is back.
      {burst_end, log::RateLimit::kBurst, log::RateLimit::kBurst, 0},
  };
  log::RateLimit limit;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.at - t0);
    int logged = 0;
    std::uint64_t suppressed = 0;
    for (int i = 0; i < step.lines; ++i) {
      const auto pass = limit.pass(step.at);
      if (pass.log && logged++ == 0) suppressed = pass.suppressed;
    }
    EXPECT_EQ(logged, step.logged);
    EXPECT_EQ(suppressed, step.suppressed);
  }
}

TEST(RateLimit, EachCallSiteHasItsOwnAndTheFirstLinesKeepTheirText) {
  testing::LogCapture capture;
  auto& lg = log::logger("valdori_util::rate_limit_test");
  for (int i = 0; i < 20; ++i) {
    VLOG_WARN_LIMITED(lg, "Dropped packet {}", i);
    VLOG_AT_FIELDS_LIMITED(lg, log::Level::err, (log::Fields{{"n", std::to_string(i)}}), "Bad query");
  }
  const auto warnings = capture.texts(log::Level::warn);
  ASSERT_EQ(warnings.size(), log::RateLimit::kBurst);
  EXPECT_EQ(warnings.front(), "Dropped packet 0");
  EXPECT_EQ(capture.texts(log::Level::err).size(), log::RateLimit::kBurst);
  EXPECT_TRUE(capture.has(log::Level::err, "Bad query n=0"));
}

}  // namespace
}  // namespace valdori
