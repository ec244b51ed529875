// The super peer program's command line.
#pragma once

#include <boost/system/result.hpp>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "p2p_core/identity/keys.hpp"
#include "tools/super_peer/server/options.hpp"
#include "util/log/log.hpp"

namespace valdori::super_peer {

struct CommandLine {
  SuperPeerOptions options;
  // A fixed identity; without one a new identity is generated at the given difficulty. Nodes do
  // not check a super peer's proof of work, so a low difficulty keeps start-up quick.
  std::optional<p2p::SecKey> secret_key;
  p2p::Pow pow;
  std::uint8_t difficulty = 8;
  log::Level log_level = log::Level::info;
  bool help = false;
};

// `args` without the program name. Fails with a message naming the offending argument.
boost::system::result<CommandLine, std::string> parse_command_line(std::span<const std::string_view> args);

std::string usage(std::string_view program);

}  // namespace valdori::super_peer
