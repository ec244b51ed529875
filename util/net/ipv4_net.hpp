// An IPv4 network: an address with a prefix length 0..32. The address keeps its host bits as
// written ("10.0.0.5/24" stays so); `trunc` clears them.
#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <fmt/format.h>
#include <boost/asio/ip/address_v4.hpp>

namespace valdori::util::net {

using Ipv4Addr = boost::asio::ip::address_v4;

// Parses dotted-quad text strictly: four decimal parts 0..255, no blanks, no leading zeros
// beyond a lone "0".
std::optional<Ipv4Addr> parse_ipv4_addr(std::string_view text);

class Ipv4Net {
 public:
  constexpr Ipv4Net() = default;
  // `prefix_len` must be at most 32; `create` checks it.
  Ipv4Net(Ipv4Addr addr, std::uint8_t prefix_len) : addr_(addr.to_uint()), prefix_len_(prefix_len) {}
  static std::optional<Ipv4Net> create(Ipv4Addr addr, std::uint8_t prefix_len);
  // "a.b.c.d/n"; a text without "/n" is rejected.
  static std::optional<Ipv4Net> parse(std::string_view text);
  // The network holding exactly one address.
  static Ipv4Net host(Ipv4Addr addr) { return Ipv4Net(addr, 32); }

  Ipv4Addr addr() const { return Ipv4Addr(addr_); }
  std::uint32_t addr_bits() const { return addr_; }
  std::uint8_t prefix_len() const { return prefix_len_; }
  std::uint32_t netmask_bits() const { return prefix_len_ == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix_len_); }
  Ipv4Addr netmask() const { return Ipv4Addr(netmask_bits()); }
  Ipv4Addr network() const { return Ipv4Addr(addr_ & netmask_bits()); }
  Ipv4Addr broadcast() const { return Ipv4Addr(addr_ | ~netmask_bits()); }
  Ipv4Net trunc() const { return Ipv4Net(network(), prefix_len_); }
  bool contains(Ipv4Addr a) const { return ((a.to_uint() ^ addr_) & netmask_bits()) == 0; }
  // True when every address of `other` lies in this network.
  bool contains(const Ipv4Net& other) const {
    return other.prefix_len_ >= prefix_len_ && contains(Ipv4Addr(other.addr_));
  }

  std::string to_string() const;

  auto operator<=>(const Ipv4Net&) const = default;

 private:
  std::uint32_t addr_ = 0;
  std::uint8_t prefix_len_ = 0;
};

}  // namespace valdori::util::net

template <>
struct std::hash<valdori::util::net::Ipv4Net> {
  std::size_t operator()(const valdori::util::net::Ipv4Net& n) const noexcept {
    return std::hash<std::uint64_t>{}(std::uint64_t{n.addr_bits()} << 8 | n.prefix_len());
  }
};

template <>
struct fmt::formatter<valdori::util::net::Ipv4Net> : fmt::formatter<std::string_view> {
  auto format(const valdori::util::net::Ipv4Net& n, fmt::format_context& ctx) const {
    return fmt::formatter<std::string_view>::format(n.to_string(), ctx);
  }
};
