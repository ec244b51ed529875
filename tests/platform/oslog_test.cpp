#include "platform/oslog/oslog.hpp"

#include <unistd.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "platform/oslog/oslog_sink.hpp"
#include "util/log/log.hpp"

namespace valdori::platform {
namespace {

// Redirects standard error into a pipe for the duration of a test.
class StderrCapture {
 public:
  StderrCapture() {
    std::fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    EXPECT_EQ(pipe(fds_), 0);
    dup2(fds_[1], STDERR_FILENO);
  }
  std::string finish() {
    std::fflush(stderr);
    dup2(saved_, STDERR_FILENO);
    close(saved_);
    close(fds_[1]);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds_[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
    close(fds_[0]);
    return out;
  }

 private:
  int saved_ = -1;
  int fds_[2] = {-1, -1};
};

TEST(OsLog, WritesSubsystemCategoryTypeAndActivities) {
  OsLog log("valdori-agent", "default", OsLog::Destination::Stderr);
  StderrCapture capture;
  {
    ActivityScope outer("housekeeping");
    ActivityScope inner("peer");
    log.write(OsLogType::Error, "lost link");
  }
  log.write(OsLogType::Info, "done");
  std::string out = capture.finish();
  EXPECT_NE(out.find("valdori-agent[default] error: housekeeping:peer: lost link\n"), std::string::npos) << out;
  EXPECT_NE(out.find("valdori-agent[default] info: done\n"), std::string::npos) << out;
}

TEST(OsLog, SinkMapsLevelsToLogTypes) {
  EXPECT_EQ(os_log_type(spdlog::level::trace), OsLogType::Debug);
  EXPECT_EQ(os_log_type(spdlog::level::info), OsLogType::Info);
  EXPECT_EQ(os_log_type(spdlog::level::warn), OsLogType::Default);
  EXPECT_EQ(os_log_type(spdlog::level::err), OsLogType::Error);
}

TEST(OsLog, SinkReceivesEventsOfEveryLogger) {
  auto oslog = std::make_shared<const OsLog>("valdori-agent", "default", OsLog::Destination::Stderr);
  auto sink = std::make_shared<OsLogSink>(oslog);
  log::remove_console_sink();
  log::add_sink(sink);
  StderrCapture capture;
  VLOG_WARN(log::logger("valdori_agent::ffi"), "Unsupported");
  std::string out = capture.finish();
  log::remove_sink(sink);
  EXPECT_NE(out.find("valdori-agent[default] default: warning valdori_agent::ffi: Unsupported"), std::string::npos)
      << out;
}

}  // namespace
}  // namespace valdori::platform
