#include "tests/support/temp_dir.hpp"

#include <stdlib.h>

#include <string>
#include <system_error>

#include <gtest/gtest.h>

namespace valdori::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "valdori-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot create a temporary directory";
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // A test may have made parts read-only; open them again so removal succeeds.
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace valdori::testing
