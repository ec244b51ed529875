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

}  // namespace
}  // namespace valdori
