#include "p2p_core/error/debug_form.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "util/text/debug_string.hpp"

namespace valdori::p2p::debug_form {

std::string tuple(std::string_view name, const std::vector<std::string>& payloads) {
  if (payloads.empty()) return std::string(name);
  return fmt::format("{}({})", name, fmt::join(payloads, ", "));
}

std::string str(std::string_view text) { return util::text::debug_string(text); }

std::string bytes(std::span<const std::uint8_t> bytes) { return fmt::format("[{}]", fmt::join(bytes, ", ")); }

std::string io(const std::error_code& error) {
  return tuple("ErrorCode", {str(error.category().name()), std::to_string(error.value()), str(error.message())});
}

std::string key(const PubKey& key) { return key.to_string(); }

std::string addr(const net::SocketAddr& addr) { return net::to_string(addr); }

std::string ip(const boost::asio::ip::address& ip) { return ip.to_string(); }

}  // namespace valdori::p2p::debug_form
