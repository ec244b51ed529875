// Socket addresses of the overlay (UDP endpoints) and their text form.
#pragma once

#include <string>

#include <fmt/format.h>
#include <boost/asio/ip/udp.hpp>

namespace valdori::p2p::net {

using SocketAddr = boost::asio::ip::udp::endpoint;

// "192.0.2.1:4000", "[2001:db8::1]:4000".
std::string to_string(const SocketAddr& addr);

}  // namespace valdori::p2p::net

template <>
struct fmt::formatter<valdori::p2p::net::SocketAddr> : fmt::formatter<std::string_view> {
  auto format(const valdori::p2p::net::SocketAddr& addr, fmt::format_context& ctx) const {
    return fmt::formatter<std::string_view>::format(valdori::p2p::net::to_string(addr), ctx);
  }
};
