#include "util/fs/replace_file.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.hpp"
#include "util/fs/read_file.hpp"

namespace valdori::util::fs {
namespace {

namespace stdfs = std::filesystem;
using testing::TempDir;

std::vector<std::string> entries(const stdfs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : stdfs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

unsigned mode_of(const stdfs::path& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  return st.st_mode & 07777;
}

TEST(ReplaceFile, FollowsASymbolicLinkToItsTarget) {
  TempDir dir;
  ASSERT_FALSE(replace_file(dir / "target", "old", 0644));
  stdfs::create_symlink(dir / "target", dir / "link");
  ASSERT_FALSE(replace_file(dir / "link", "new", 0600));
  EXPECT_TRUE(stdfs::is_symlink(dir / "link"));
  EXPECT_EQ(read_file(dir / "target").value(), "new");
  EXPECT_EQ(mode_of(dir / "target"), 0644u);
}

TEST(ReplaceFile, FailuresLeaveNothingBehind) {
  TempDir dir;
  stdfs::create_directory(dir / "a-directory");
  EXPECT_TRUE(replace_file(dir / "a-directory", "text", 0600));
  EXPECT_TRUE(replace_file(dir / "missing" / "f", "text", 0600));
  stdfs::create_symlink(dir / "nowhere", dir / "dangling");
  EXPECT_TRUE(replace_file(dir / "dangling", "text", 0600));
  EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"a-directory", "dangling"}));
}

}  // namespace
}  // namespace valdori::util::fs
