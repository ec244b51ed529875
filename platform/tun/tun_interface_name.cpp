// The interface behind a tunnel descriptor, asked of the kernel.
#include <sys/ioctl.h>

#include <cstring>

#include "platform/tun/tun_device.hpp"

#ifdef __APPLE__
#include <net/if.h>
#include <net/if_utun.h>
#include <sys/kern_control.h>
#include <sys/socket.h>
#else
#include <linux/if.h>
#include <linux/if_tun.h>
#endif

namespace valdori::platform {

std::string TunDevice::interface_name() {
  const int fd = descriptor_.native_handle();
#ifdef __APPLE__
  char name[IFNAMSIZ] = {};
  socklen_t length = sizeof name;
  if (::getsockopt(fd, SYSPROTO_CONTROL, UTUN_OPT_IFNAME, name, &length) != 0) return {};
  return std::string(name, strnlen(name, sizeof name));
#else
  ifreq request{};
  if (::ioctl(fd, TUNGETIFF, &request) != 0) return {};
  return std::string(request.ifr_name, strnlen(request.ifr_name, sizeof request.ifr_name));
#endif
}

}  // namespace valdori::platform
