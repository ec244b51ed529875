// The interface behind a tunnel descriptor, asked of the kernel: its name, and whether it carries
// the packets the device expects.
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/tun/tun_device.hpp"
#include "platform/tun/tun_packet_info.hpp"
#include "util/log/log.hpp"

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

#ifndef __APPLE__
namespace {

// The kernel's record of the TUN or TAP interface behind fd: its name and the flags it was
// opened with, but for IFF_NO_PI (see tun_packet_info.hpp).
boost::system::result<ifreq> tun_record(int fd) {
  ifreq request{};
  if (::ioctl(fd, TUNGETIFF, &request) != 0) return boost::system::error_code(errno, boost::system::system_category());
  return request;
}

std::string name_of(const ifreq& record) {
  return std::string(record.ifr_name, strnlen(record.ifr_name, sizeof record.ifr_name));
}

// What the descriptor is where it is not a TUN opened with IFF_TUN | IFF_NO_PI; empty where it is.
std::string mismatch(int fd) {
  const auto record = tun_record(fd);
  if (!record) return fmt::format("no TUN interface (TUNGETIFF: {})", record.error().message());
  const bool tap = (record->ifr_flags & IFF_TAP) != 0;
  // Where the interface's mode cannot be read, the descriptor is taken for what it should be.
  const bool packet_info = tun_has_packet_info(fd, name_of(*record)).value_or(false);
  if (!tap && !packet_info) return {};
  return fmt::format("a {} interface{}{}", tap ? "TAP" : "TUN", tap ? " (IFF_TAP)" : "",
                     packet_info ? " opened without IFF_NO_PI" : "");
}

}  // namespace
#endif

std::string TunDevice::interface_name() {
  const int fd = descriptor_.native_handle();
#ifdef __APPLE__
  char name[IFNAMSIZ] = {};
  socklen_t length = sizeof name;
  if (::getsockopt(fd, SYSPROTO_CONTROL, UTUN_OPT_IFNAME, name, &length) != 0) return {};
  return std::string(name, strnlen(name, sizeof name));
#else
  const auto record = tun_record(fd);
  return record ? name_of(*record) : std::string();
#endif
}

void TunDevice::warn_unless_bare_tun() {
#ifndef __APPLE__
  const int fd = descriptor_.native_handle();
  if (const std::string what = mismatch(fd); !what.empty()) {
    VLOG_WARN(log::module_logger<"valdori_platform::tun">(),
              "Tunnel descriptor {} is {}; the agent expects a TUN opened with IFF_TUN | IFF_NO_PI and drops what it "
              "reads that is not a bare IPv4 packet",
              fd, what);
  }
#endif
}

}  // namespace valdori::platform
