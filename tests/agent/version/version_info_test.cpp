#include "agent/version/version_info.hpp"

#include <algorithm>
#include <string_view>

#include <gtest/gtest.h>

namespace valdori::version {
namespace {

// `shape` spells the text: '9' stands for a digit, 'f' for a lower-case hex digit, anything
// else for itself.
bool has_shape(std::string_view text, std::string_view shape) {
  if (text.size() != shape.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool digit = c >= '0' && c <= '9';
    const bool ok = shape[i] == '9' ? digit : shape[i] == 'f' ? digit || (c >= 'a' && c <= 'f') : c == shape[i];
    if (!ok) return false;
  }
  return true;
}

TEST(VersionInfo, CommitAndProfileFollowTheExactWordTrue) {
  struct Case {
    const char* flag;
    const char* commit;
    const char* profile;
  };
  const Case cases[] = {
      {"true", "abc1234-dirty", "debug"},
      {"True", "abc1234", "release"},
      {"1", "abc1234", "release"},
      {"true ", "abc1234", "release"},
  };
  for (const Case& c : cases) {
    VersionInfo info;
    info.git_commit = "abc1234";
    info.git_dirty = c.flag;
    info.debug_build = c.flag;
    EXPECT_EQ(info.full_commit(), c.commit) << '"' << c.flag << '"';
    EXPECT_EQ(info.profile(), c.profile) << '"' << c.flag << '"';
  }
}

TEST(VersionInfo, TextForm) {
  VersionInfo info;
  info.version = "1.2.3";
  info.git_commit = "0a1b2c3";
  info.git_dirty = "true";
  info.build_timestamp = "2026-01-02T03:04:05.123456789Z";
  info.debug_build = "false";
  info.features = "ffi";
  EXPECT_EQ(display(info),
            "  Version: 1.2.3\n"
            "  Git Commit: 0a1b2c3-dirty\n"
            "  Build Profile: release\n"
            "  Build Timestamp: 2026-01-02T03:04:05.123456789Z\n"
            "  Features: ffi\n");
}

TEST(VersionInfo, BuildValuesHaveTheirFormats) {
  const VersionInfo info;
  EXPECT_EQ(std::count(info.version.begin(), info.version.end(), '.'), 2) << info.version;
  // A tree without git builds with "unknown".
  EXPECT_TRUE(has_shape(info.git_commit, "fffffff") || info.git_commit == "unknown") << info.git_commit;
  EXPECT_TRUE(info.git_dirty == "true" || info.git_dirty == "false") << info.git_dirty;
  EXPECT_TRUE(has_shape(info.build_timestamp, "9999-99-99T99:99:99.999999999Z")) << info.build_timestamp;
#ifdef NDEBUG
  EXPECT_EQ(info.debug_build, "false");
#else
  EXPECT_EQ(info.debug_build, "true");
#endif
  EXPECT_EQ(info.features, "ffi");
}

}  // namespace
}  // namespace valdori::version
