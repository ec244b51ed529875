#include "agent/json/overlay_values.hpp"

#include <charconv>
#include <cstdint>
#include <string>

namespace valdori::agent::json_doc {
namespace {

template <class N>
std::optional<N> parse_number(std::string_view text, int base) {
  N number{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number, base);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return number;
}

}  // namespace

std::optional<boost::asio::ip::address> parse_ip_addr(std::string_view text) {
  boost::system::error_code ec;
  const auto addr = boost::asio::ip::make_address(std::string(text), ec);
  if (ec) return std::nullopt;
  return addr;
}

// "address:port", an IPv6 address in brackets.
std::optional<p2p::net::SocketAddr> parse_socket_addr(std::string_view text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::string_view host = text.substr(0, colon);
  const bool bracketed = host.starts_with('[') && host.ends_with(']');
  if (bracketed) host = host.substr(1, host.size() - 2);
  const auto addr = parse_ip_addr(host);
  const auto port = parse_number<std::uint16_t>(text.substr(colon + 1), 10);
  if (!addr || !port || bracketed != addr->is_v6()) return std::nullopt;
  return p2p::net::SocketAddr(*addr, *port);
}

std::optional<p2p::message::ShortId> parse_short_id(std::string_view text) {
  if (text.size() != 8) return std::nullopt;
  const auto packed = parse_number<std::uint32_t>(text, 16);
  if (!packed) return std::nullopt;
  p2p::message::ShortId id;
  for (std::size_t i = 0; i < id.bytes.size(); ++i) id.bytes[i] = static_cast<std::uint8_t>(*packed >> (24 - 8 * i));
  return id;
}

}  // namespace valdori::agent::json_doc
