// The TUN mode of an interface read from its link record, over a route socket in the interface's
// own network namespace. Neither simpler source will do: sysfs shows the namespace it was mounted
// for, which need not be the interface's (an interface of the same name there is another), and
// TUNGETIFF reports "no socket filter attached" (IFF_NOFILTER, the usual case) in IFF_NO_PI's bit.
#ifndef __APPLE__
#include "platform/tun/tun_packet_info.hpp"

#include <linux/if.h>
#include <linux/if_link.h>
#include <linux/if_tun.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sockios.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace valdori::platform {
namespace {

using Bytes = std::span<const std::uint8_t>;

// A descriptor closed when it goes out of scope; -1 for none.
class OwnedFd {
 public:
  explicit OwnedFd(int fd) : fd_(fd) {}
  OwnedFd(OwnedFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
  OwnedFd& operator=(OwnedFd&&) = delete;
  ~OwnedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

bool same_file(int a, int b) {
  struct stat first {};
  struct stat second {};
  return ::fstat(a, &first) == 0 && ::fstat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

int open_route_socket() { return ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE); }

// A route socket in the network namespace `ns`: one of this thread's namespace where that is
// `ns`, else one opened on a thread that enters `ns`; -1 where neither can be had.
OwnedFd route_socket_in(int ns) {
  OwnedFd here(open_route_socket());
  const OwnedFd here_ns(here.get() >= 0 ? ::ioctl(here.get(), SIOCGSKNS) : -1);
  if (here_ns.get() >= 0 && same_file(here_ns.get(), ns)) return here;
  int there = -1;
  try {
    // Namespaces belong to threads: the caller's stays where it is.
    std::thread([&] {
      if (::setns(ns, CLONE_NEWNET) == 0) there = open_route_socket();
    }).join();
  } catch (const std::system_error&) {
    // No thread to be had: no answer.
  }
  return OwnedFd(there);
}

// The kernel's record of the link named `name` in the socket's namespace (an RTM_NEWLINK
// message); empty where it gives none.
std::vector<std::uint8_t> link_record(int socket, std::string_view name) {
  struct LinkRequest {
    nlmsghdr header;
    ifinfomsg link;
    rtattr name_head;
    std::array<char, IFNAMSIZ> name;
  };
  static_assert(sizeof(LinkRequest) ==
                NLMSG_ALIGN(sizeof(nlmsghdr)) + NLMSG_ALIGN(sizeof(ifinfomsg)) + RTA_LENGTH(IFNAMSIZ));
  if (name.size() >= IFNAMSIZ) return {};
  LinkRequest request{};
  request.header.nlmsg_len = sizeof request;
  request.header.nlmsg_type = RTM_GETLINK;
  request.header.nlmsg_flags = NLM_F_REQUEST;
  request.link.ifi_family = AF_UNSPEC;
  request.name_head.rta_len = RTA_LENGTH(IFNAMSIZ);
  request.name_head.rta_type = IFLA_IFNAME;
  name.copy(request.name.data(), name.size());
  if (::send(socket, &request, sizeof request, 0) != static_cast<ssize_t>(sizeof request)) return {};
  // The kernel answers while it takes the request: the reply is queued when send returns.
  std::vector<std::uint8_t> reply(std::size_t{32} * 1024);
  const ssize_t length = ::recv(socket, reply.data(), reply.size(), MSG_DONTWAIT | MSG_TRUNC);
  if (length < 0 || static_cast<std::size_t>(length) > reply.size()) return {};
  reply.resize(static_cast<std::size_t>(length));
  return reply;
}

// The payload of the first netlink attribute of `type` among `attributes`; empty where there is
// none.
Bytes attribute(Bytes attributes, int type) {
  while (attributes.size() >= sizeof(rtattr)) {
    rtattr head{};
    std::memcpy(&head, attributes.data(), sizeof head);
    if (head.rta_len < sizeof head || head.rta_len > attributes.size()) break;
    if ((head.rta_type & NLA_TYPE_MASK) == type) return attributes.subspan(RTA_LENGTH(0), head.rta_len - RTA_LENGTH(0));
    attributes = attributes.subspan(std::min<std::size_t>(RTA_ALIGN(head.rta_len), attributes.size()));
  }
  return {};
}

// Whether a TUN link's record says it carries packet information; empty where the record is no
// TUN link's with its mode.
std::optional<bool> packet_info_in(Bytes record) {
  constexpr std::size_t kAttributesAt = NLMSG_ALIGN(sizeof(nlmsghdr)) + NLMSG_ALIGN(sizeof(ifinfomsg));
  nlmsghdr header{};
  if (record.size() < kAttributesAt) return std::nullopt;
  std::memcpy(&header, record.data(), sizeof header);
  if (header.nlmsg_type != RTM_NEWLINK || header.nlmsg_len < kAttributesAt || header.nlmsg_len > record.size()) {
    return std::nullopt;
  }
  const Bytes link_info = attribute(record.subspan(kAttributesAt, header.nlmsg_len - kAttributesAt), IFLA_LINKINFO);
  constexpr std::array<std::uint8_t, 4> kTun{'t', 'u', 'n', '\0'};
  const Bytes packet_info = attribute(attribute(link_info, IFLA_INFO_DATA), IFLA_TUN_PI);
  if (!std::ranges::equal(attribute(link_info, IFLA_INFO_KIND), kTun) || packet_info.size() != 1) return std::nullopt;
  return packet_info[0] != 0;
}

}  // namespace

std::optional<bool> tun_has_packet_info(int fd, std::string_view name) {
  const OwnedFd ns(::ioctl(fd, TUNGETDEVNETNS));
  if (ns.get() < 0) return std::nullopt;
  const OwnedFd socket = route_socket_in(ns.get());
  if (socket.get() < 0) return std::nullopt;
  return packet_info_in(link_record(socket.get(), name));
}

}  // namespace valdori::platform
#endif
