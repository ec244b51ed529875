#include "agent/agent/inner/start_options.hpp"

#include <array>

#include "p2p_core/node/opts_builder.hpp"
#include "util/system/env.hpp"
#include "util/text/debug_string.hpp"

namespace valdori::agent {
namespace {

using util::system::get_env;
using util::system::get_env_at_most;
using util::system::kMaxDurationMs;
using util::system::kMaxQueueCapacity;

// The white space of Unicode in UTF-8, longest first; the ASCII ones are single bytes.
constexpr std::array<std::string_view, 19> kMultiByteSpaces = {
    "\u0085", "\u00A0", "\u1680", "\u2000", "\u2001", "\u2002", "\u2003", "\u2004", "\u2005", "\u2006",
    "\u2007", "\u2008", "\u2009", "\u200A", "\u2028", "\u2029", "\u202F", "\u205F", "\u3000"};

// The length of the white-space character at the start of `text`, or 0.
std::size_t space_length(std::string_view text) {
  const char c = text.front();
  if (c == ' ' || (c >= '\t' && c <= '\r')) return 1;
  for (const std::string_view space : kMultiByteSpaces) {
    if (text.starts_with(space)) return space.size();
  }
  return 0;
}

}  // namespace

StartOptions StartOptions::from_env() {
  StartOptions o;
  o.min_pow_difficulty = get_env<std::uint8_t>("MIN_POW_DIFFICULTY", o.min_pow_difficulty);
  o.arm_messages = get_env<bool>("ARM_MESSAGES", o.arm_messages);
  o.udp_addrs = get_env<std::string>("UDP_ADDRS", "");
  o.udp_port = util::system::udp_port_option();
  o.max_peers = get_env<std::uint64_t>("MAX_PEERS", o.max_peers);
  o.hello_timeout = get_env_at_most<std::uint64_t>("HELLO_TIMEOUT", o.hello_timeout, kMaxDurationMs);
  o.hello_max_age = get_env_at_most<std::uint64_t>("HELLO_MAX_AGE", o.hello_max_age, kMaxDurationMs);
  o.recv_buf_cap = get_env_at_most<std::size_t>("RECV_BUF_CAP", o.recv_buf_cap, kMaxQueueCapacity);
  o.channel_cap = get_env_at_most<std::size_t>("CHANNEL_CAP", o.channel_cap, kMaxQueueCapacity);
  o.process_unites = get_env<bool>("PROCESS_UNITES", o.process_unites);
  o.housekeeping_interval =
      get_env_at_most<std::uint64_t>("HOUSEKEEPING_INTERVAL", o.housekeeping_interval, kMaxDurationMs);
  o.enforce_tcp = get_env<bool>("ENFORCE_TCP", o.enforce_tcp);
  o.udp_sockets = get_env_at_most<std::size_t>("UDP_SOCKETS", o.udp_sockets, p2p::node::kMaxUdpSockets);
  return o;
}

boost::system::result<std::vector<boost::asio::ip::address>, std::string> parse_udp_addrs(std::string_view text) {
  std::vector<boost::asio::ip::address> addrs;
  while (!text.empty()) {
    if (const std::size_t n = space_length(text)) {
      text.remove_prefix(n);
      continue;
    }
    std::size_t end = 0;
    while (end < text.size() && space_length(text.substr(end)) == 0) ++end;
    const std::string piece(text.substr(0, end));
    boost::system::error_code ec;
    const auto addr = boost::asio::ip::make_address(piece, ec);
    if (ec) return "Invalid udp addresses: " + util::text::escape_controls(piece);
    addrs.push_back(addr);
    text.remove_prefix(end);
  }
  return addrs;
}

}  // namespace valdori::agent
