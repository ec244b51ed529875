// The tunables Agent::start reads from the environment, in the order it reads them. Durations and
// queue capacities above their limits (util/system/env.hpp) are capped, with a WARN.
#pragma once

#include <boost/asio/ip/address.hpp>
#include <boost/system/result.hpp>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace valdori::agent {

struct StartOptions {
  std::uint8_t min_pow_difficulty = 24;
  bool arm_messages = true;
  std::string udp_addrs;
  std::optional<std::uint16_t> udp_port;
  std::uint64_t max_peers = 8192;
  std::uint64_t hello_timeout = 30000;  // ms
  std::uint64_t hello_max_age = 60000;  // ms
  std::size_t recv_buf_cap = 512;
  std::size_t channel_cap = 512;
  bool process_unites = true;
  std::uint64_t housekeeping_interval = 5000;  // ms
  bool enforce_tcp = false;
  std::size_t udp_sockets = 3;

  static StartOptions from_env();
};

// The pieces of `text` between runs of white space (Unicode's), each an IPv4 or IPv6 address.
// Fails with the first piece that is not one.
boost::system::result<std::vector<boost::asio::ip::address>, std::string> parse_udp_addrs(std::string_view text);

}  // namespace valdori::agent
