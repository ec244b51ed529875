// Facts about this build of the agent, fixed when it was built: package version, source
// revision, profile, build time and enabled features.
#pragma once

#include <string>

namespace valdori::version {

struct VersionInfo {
  std::string version;
  std::string git_commit;       // 7 lower-case hex digits
  std::string git_dirty;        // "true" when the tree had uncommitted changes
  std::string build_timestamp;  // RFC 3339, UTC, nine fraction digits: 2026-01-02T03:04:05.123456789Z
  std::string debug_build;      // "true" for a debug build
  std::string features;         // e.g. "ffi"

  // Filled with this build's values.
  VersionInfo();

  // The commit with "-dirty" appended when `git_dirty` is exactly "true".
  std::string full_commit() const;
  // "debug" when `debug_build` is exactly "true", else "release".
  std::string profile() const;

  bool operator==(const VersionInfo&) const = default;
};

// Five lines: "  Version: ...", "  Git Commit: ...", "  Build Profile: ...",
// "  Build Timestamp: ...", "  Features: ...", each ending in a line feed.
std::string display(const VersionInfo& info);

}  // namespace valdori::version
