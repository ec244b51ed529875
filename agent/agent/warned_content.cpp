#include "agent/agent/warned_content.hpp"

#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace valdori::agent {
namespace {

// A host loads one file, or a few; the others are forgotten, oldest first.
constexpr std::size_t kFilesRemembered = 8;

struct WarnedFile {
  std::filesystem::path file;  // canonical
  std::size_t content_hash;
};

struct Warned {
  std::mutex mutex;
  std::vector<WarnedFile> files;  // most recently loaded last
};

Warned& warned() {
  static Warned* instance = new Warned();  // never destroyed: a host thread may load during exit
  return *instance;
}

// One name for every spelling of the path: its symbolic links, "." and ".." resolved. The
// canonical path, not the inode: an editor or the library itself replaces the file by renaming a
// new one over it, which keeps the path and changes the inode.
std::filesystem::path file_of(const std::filesystem::path& path) {
  std::error_code failed;
  std::filesystem::path file = std::filesystem::weakly_canonical(path, failed);
  return failed ? path.lexically_normal() : file;
}

}  // namespace

bool warnings_are_new(const std::filesystem::path& path, std::string_view content) {
  const WarnedFile loaded{file_of(path), std::hash<std::string_view>{}(content)};
  Warned& state = warned();
  std::lock_guard lock(state.mutex);
  auto& files = state.files;
  const auto known = std::ranges::find(files, loaded.file, &WarnedFile::file);
  const bool added = known == files.end();
  const bool changed = added || known->content_hash != loaded.content_hash;
  if (!added) files.erase(known);
  if (files.size() == kFilesRemembered) files.erase(files.begin());
  files.push_back(loaded);
  return changed;
}

}  // namespace valdori::agent
