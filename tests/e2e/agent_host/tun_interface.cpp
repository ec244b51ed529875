#include "tests/e2e/agent_host/tun_interface.hpp"

#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <fmt/format.h>

#include "tests/e2e/agent_host/command.hpp"

namespace valdori::e2e {

boost::system::result<int, std::string> open_tun_in_namespace(const std::string& name, std::uint16_t mtu,
                                                              const std::string& netns) {
  if (name.empty() || name.size() >= IFNAMSIZ) return fmt::format("interface name '{}' is empty or too long", name);
  const int fd = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC);
  if (fd < 0) return fmt::format("cannot open /dev/net/tun: {}", std::strerror(errno));

  ifreq request{};
  request.ifr_flags = IFF_TUN | IFF_NO_PI;
  std::memcpy(request.ifr_name, name.c_str(), name.size());
  if (::ioctl(fd, TUNSETIFF, &request) < 0) {
    const int error = errno;
    ::close(fd);
    return fmt::format("cannot create TUN interface {}: {}", name, std::strerror(error));
  }

  const bool configured = run_command({"ip", "link", "set", name, "mtu", std::to_string(mtu)}) &&
                          run_command({"ip", "link", "set", name, "netns", netns}) &&
                          run_command({"ip", "-n", netns, "link", "set", name, "up"});
  if (!configured) {
    ::close(fd);
    return fmt::format("cannot set up TUN interface {} in namespace {}", name, netns);
  }
  return fd;
}

}  // namespace valdori::e2e
