#include "p2p_core/net/get_addrs.hpp"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace valdori::p2p::net {
namespace {

namespace ip = boost::asio::ip;

struct IfaddrsFree {
  void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

}  // namespace

boost::system::result<std::vector<InterfaceAddr>, std::error_code> get_addrs() {
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) != 0) return std::error_code(errno, std::system_category());
  const std::unique_ptr<ifaddrs, IfaddrsFree> list(raw);

  std::vector<InterfaceAddr> addrs;
  for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || (entry->ifa_flags & IFF_UP) == 0) continue;
    if (entry->ifa_addr->sa_family == AF_INET) {
      sockaddr_in v4;
      std::memcpy(&v4, entry->ifa_addr, sizeof v4);
      addrs.push_back({entry->ifa_name, ip::address_v4(ntohl(v4.sin_addr.s_addr))});
    } else if (entry->ifa_addr->sa_family == AF_INET6) {
      sockaddr_in6 v6;
      std::memcpy(&v6, entry->ifa_addr, sizeof v6);
      ip::address_v6::bytes_type bytes;
      std::memcpy(bytes.data(), v6.sin6_addr.s6_addr, bytes.size());
      const ip::address_v6 addr(bytes);
      if (addr.is_link_local()) continue;
      addrs.push_back({entry->ifa_name, addr});
    }
  }
  return addrs;
}

}  // namespace valdori::p2p::net
