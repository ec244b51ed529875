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

bool is_link_local(const ip::address& addr) {
  if (addr.is_v6()) return addr.to_v6().is_link_local();
  return (addr.to_v4().to_uint() & 0xFFFF0000U) == 0xA9FE0000U;  // 169.254.0.0/16
}

}  // namespace

bool is_bindable(const InterfaceAddr& entry, bool loopback_interface, std::string_view tunnel) {
  if (loopback_interface || entry.addr.is_loopback() || is_link_local(entry.addr)) return false;
  return tunnel.empty() || entry.name != tunnel;
}

boost::system::result<std::vector<InterfaceAddr>, std::error_code> get_addrs(std::string_view tunnel) {
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) != 0) return std::error_code(errno, std::system_category());
  const std::unique_ptr<ifaddrs, IfaddrsFree> list(raw);

  std::vector<InterfaceAddr> addrs;
  for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || (entry->ifa_flags & IFF_UP) == 0) continue;
    InterfaceAddr found{entry->ifa_name, {}};
    if (entry->ifa_addr->sa_family == AF_INET) {
      sockaddr_in v4;
      std::memcpy(&v4, entry->ifa_addr, sizeof v4);
      found.addr = ip::address_v4(ntohl(v4.sin_addr.s_addr));
    } else if (entry->ifa_addr->sa_family == AF_INET6) {
      sockaddr_in6 v6;
      std::memcpy(&v6, entry->ifa_addr, sizeof v6);
      ip::address_v6::bytes_type bytes;
      std::memcpy(bytes.data(), v6.sin6_addr.s6_addr, bytes.size());
      found.addr = ip::address_v6(bytes);
    } else {
      continue;
    }
    if (is_bindable(found, (entry->ifa_flags & IFF_LOOPBACK) != 0, tunnel)) addrs.push_back(std::move(found));
  }
  return addrs;
}

}  // namespace valdori::p2p::net
