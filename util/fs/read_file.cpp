#include "util/fs/read_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace valdori::util::fs {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

std::error_code last_error() { return {errno, std::system_category()}; }

}  // namespace

boost::system::result<std::string, std::error_code> read_file(const std::filesystem::path& path,
                                                              std::size_t max_bytes) {
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused just below.
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.get() < 0) return last_error();
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) return last_error();
  if (S_ISDIR(info.st_mode)) return std::make_error_code(std::errc::is_a_directory);
  if (!S_ISREG(info.st_mode)) return std::make_error_code(std::errc::invalid_argument);
  if (static_cast<std::uintmax_t>(info.st_size) > max_bytes) return std::make_error_code(std::errc::file_too_large);

  std::string contents;
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n > 0) {
      // The file may grow while it is read: the limit holds for what is read, not only the size seen.
      if (contents.size() + static_cast<std::size_t>(n) > max_bytes)
        return std::make_error_code(std::errc::file_too_large);
      contents.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      return last_error();
    }
  }
  return {boost::system::in_place_value, std::move(contents)};
}

}  // namespace valdori::util::fs
