// Building blocks of the debug form that every error enumeration of the core shares: a kind
// without payload is its name alone, a kind with payloads is its name followed by the payloads'
// debug forms in parentheses, separated by ", ".
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <boost/asio/ip/address.hpp>

#include "p2p_core/identity/keys.hpp"
#include "p2p_core/net/socket_addr.hpp"

namespace valdori::p2p::debug_form {

// "Name" for no payloads, "Name(a, b)" otherwise.
std::string tuple(std::string_view name, const std::vector<std::string>& payloads);

// Debug forms of the payload types.
std::string str(std::string_view text);                  // quoted and escaped
std::string bytes(std::span<const std::uint8_t> bytes);  // "[0, 0, 0, 1]"
std::string io(const std::error_code& error);            // ErrorCode("system", 111, "Connection refused")
std::string key(const PubKey& key);                      // the key's text form
std::string addr(const net::SocketAddr& addr);           // "192.0.2.1:4000"
std::string ip(const boost::asio::ip::address& ip);      // "192.0.2.1"

}  // namespace valdori::p2p::debug_form
