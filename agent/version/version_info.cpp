#include "agent/version/version_info.hpp"

#include <fmt/format.h>

#include "valdori_build_info.hpp"

namespace valdori::version {

VersionInfo::VersionInfo()
    : version(build::kVersion),
      git_commit(build::kGitCommit),
      git_dirty(build::kGitDirty),
      build_timestamp(build::kBuildTimestamp),
      debug_build(build::kDebugBuild),
      features(build::kFeatures) {}

std::string VersionInfo::full_commit() const { return git_dirty == "true" ? git_commit + "-dirty" : git_commit; }

std::string VersionInfo::profile() const { return debug_build == "true" ? "debug" : "release"; }

std::string display(const VersionInfo& info) {
  return fmt::format("  Version: {}\n  Git Commit: {}\n  Build Profile: {}\n  Build Timestamp: {}\n  Features: {}\n",
                     info.version, info.full_commit(), info.profile(), info.build_timestamp, info.features);
}

}  // namespace valdori::version
