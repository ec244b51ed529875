#include "util/fs/read_file.hpp"

#include <sys/stat.h>

#include <fstream>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.hpp"

namespace valdori::util::fs {
namespace {

void write(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

TEST(ReadFile, ReadsARegularFileWhole) {
  testing::TempDir dir;
  std::string text(40000, 'x');
  text += std::string("\0tail", 5);
  write(dir.path() / "doc", text);
  auto r = read_file(dir.path() / "doc");
  ASSERT_TRUE(r) << r.error().message();
  EXPECT_EQ(*r, text);
}

TEST(ReadFile, RefusesWhatIsNotASmallRegularFile) {
  testing::TempDir dir;
  ASSERT_EQ(::mkfifo((dir.path() / "fifo").c_str(), 0600), 0);
  write(dir.path() / "big", std::string(101, 'x'));
  struct Case {
    std::filesystem::path path;
    std::size_t limit;
    std::errc expected;
  };
  const Case cases[] = {
      {dir.path() / "fifo", kMaxDocumentBytes, std::errc::invalid_argument},  // must not block
      {dir.path(), kMaxDocumentBytes, std::errc::is_a_directory},
      {dir.path() / "big", 100, std::errc::file_too_large},
      {dir.path() / "missing", kMaxDocumentBytes, std::errc::no_such_file_or_directory},
  };
  for (const Case& c : cases) {
    auto r = read_file(c.path, c.limit);
    ASSERT_FALSE(r) << c.path;
    EXPECT_EQ(r.error(), c.expected) << c.path;
  }
  EXPECT_TRUE(read_file(dir.path() / "big", 101));
}

}  // namespace
}  // namespace valdori::util::fs
