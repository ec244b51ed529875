#include "util/net/ipv4_net.hpp"

#include <charconv>

namespace valdori::util::net {
namespace {

// Reads a decimal number 0..max with no sign, no blanks and no superfluous leading zero.
std::optional<std::uint32_t> parse_decimal(std::string_view text, std::uint32_t max) {
  if (text.empty() || text.size() > 3 || (text.size() > 1 && text[0] == '0')) return std::nullopt;
  std::uint32_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value > max) return std::nullopt;
  return value;
}

}  // namespace

std::optional<Ipv4Addr> parse_ipv4_addr(std::string_view text) {
  std::uint32_t bits = 0;
  for (int part = 0; part < 4; ++part) {
    std::size_t dot = part < 3 ? text.find('.') : text.size();
    if (dot == std::string_view::npos) return std::nullopt;
    auto octet = parse_decimal(text.substr(0, dot), 255);
    if (!octet) return std::nullopt;
    bits = bits << 8 | *octet;
    text.remove_prefix(part < 3 ? dot + 1 : dot);
  }
  return Ipv4Addr(bits);
}

std::optional<Ipv4Net> Ipv4Net::create(Ipv4Addr addr, std::uint8_t prefix_len) {
  if (prefix_len > 32) return std::nullopt;
  return Ipv4Net(addr, prefix_len);
}

std::optional<Ipv4Net> Ipv4Net::parse(std::string_view text) {
  std::size_t slash = text.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  auto addr = parse_ipv4_addr(text.substr(0, slash));
  auto len = parse_decimal(text.substr(slash + 1), 32);
  if (!addr || !len) return std::nullopt;
  return Ipv4Net(*addr, static_cast<std::uint8_t>(*len));
}

std::string Ipv4Net::to_string() const { return fmt::format("{}/{}", addr().to_string(), prefix_len_); }

}  // namespace valdori::util::net
