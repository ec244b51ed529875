#include "agent/agent/warned_content.hpp"

#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

namespace valdori::agent {
namespace {

struct Warned {
  std::mutex mutex;
  std::unordered_map<std::string, std::size_t> content_hash;  // by path
};

Warned& warned() {
  static Warned* instance = new Warned();  // never destroyed: a host thread may load during exit
  return *instance;
}

}  // namespace

bool warnings_are_new(const std::filesystem::path& path, std::string_view content) {
  const std::size_t hash = std::hash<std::string_view>{}(content);
  Warned& state = warned();
  std::lock_guard lock(state.mutex);
  const auto [entry, added] = state.content_hash.try_emplace(path.native(), hash);
  return added || std::exchange(entry->second, hash) != hash;
}

}  // namespace valdori::agent
