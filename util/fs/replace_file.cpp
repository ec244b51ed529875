#include "util/fs/replace_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>

#include <fmt/format.h>

namespace valdori::util::fs {
namespace {

std::error_code last_error() { return {errno, std::system_category()}; }

std::error_code write_all(int fd, std::string_view contents) {
  while (!contents.empty()) {
    const ssize_t n = ::write(fd, contents.data(), contents.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return last_error();
    }
    contents.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

// Makes the rename itself durable.
std::error_code sync_directory(const std::filesystem::path& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return last_error();
  std::error_code error;
  // Some file systems cannot sync a directory; the data itself is synced already.
  if (::fsync(fd) != 0 && errno != EINVAL) error = last_error();
  ::close(fd);
  return error;
}

// Writes the temporary file completely, with the final mode and owner, and syncs it.
std::error_code fill_temporary(int fd, std::string_view contents, mode_t mode, const std::optional<struct stat>& old) {
  if (::fchmod(fd, mode) != 0) return last_error();
  if (old) {
    // Only a privileged process can give the file away; anyone else keeps it as their own.
    (void)::fchown(fd, old->st_uid, old->st_gid);
  }
  if (auto error = write_all(fd, contents)) return error;
  if (::fsync(fd) != 0) return last_error();
  return {};
}

}  // namespace

std::error_code replace_file(const std::filesystem::path& path, std::string_view contents, mode_t new_file_mode) {
  std::filesystem::path target = path;
  if (struct stat link{}; ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    std::error_code error;
    target = std::filesystem::canonical(path, error);
    if (error) return error;
  }
  std::optional<struct stat> old;
  if (struct stat st{}; ::stat(target.c_str(), &st) == 0) {
    old = st;
  } else if (errno != ENOENT) {
    return last_error();
  }
  const mode_t mode = old ? (old->st_mode & 07777) : new_file_mode;

  const std::filesystem::path dir = target.has_parent_path() ? target.parent_path() : ".";
  std::string temporary = (dir / fmt::format(".{}.tmp-XXXXXX", target.filename().string())).string();
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return last_error();
  std::error_code error = fill_temporary(fd, contents, mode, old);
  if (::close(fd) != 0 && !error) error = last_error();
  if (!error && ::rename(temporary.c_str(), target.c_str()) != 0) error = last_error();
  if (error) {
    ::unlink(temporary.c_str());
    return error;
  }
  return sync_directory(dir);
}

}  // namespace valdori::util::fs
