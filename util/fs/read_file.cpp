#include "util/fs/read_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace valdori::util::fs {

boost::system::result<std::string, std::error_code> read_file(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::error_code(errno, std::system_category());
  std::string contents;
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      contents.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      const std::error_code error(errno, std::system_category());
      ::close(fd);
      return error;
    }
  }
  ::close(fd);
  return {boost::system::in_place_value, std::move(contents)};
}

}  // namespace valdori::util::fs
