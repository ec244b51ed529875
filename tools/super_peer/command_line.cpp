#include "tools/super_peer/command_line.hpp"

#include <fmt/format.h>

#include "p2p_core/crypto/error.hpp"
#include "util/system/env.hpp"

namespace valdori::super_peer {
namespace {

template <class T>
boost::system::result<T, std::string> number(std::string_view flag, std::string_view text) {
  auto value = util::system::parse_option<T>(text);
  if (!value) return fmt::format("{}: '{}' is not a valid number", flag, text);
  return *value;
}

}  // namespace

boost::system::result<CommandLine, std::string> parse_command_line(std::span<const std::string_view> args) {
  CommandLine line;
  bool network_id_given = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view flag = args[i];
    if (flag == "--help" || flag == "-h") {
      line.help = true;
      return line;
    }
    if (flag == "--no-udp") {
      line.options.udp_enabled = false;
      continue;
    }
    if (flag == "--no-tcp") {
      line.options.tcp_enabled = false;
      continue;
    }
    if (flag == "--no-unite") {
      line.options.unite_enabled = false;
      continue;
    }
    if (flag == "--unarmed") {
      line.options.arm_messages = false;
      continue;
    }
    if (i + 1 == args.size()) return fmt::format("{}: missing value, or unknown flag", flag);
    const std::string_view value = args[++i];
    if (flag == "--network-id") {
      auto id = number<std::uint32_t>(flag, value);
      if (!id) return id.error();
      line.options.network_id = *id;
      network_id_given = true;
    } else if (flag == "--listen") {
      boost::system::error_code ec;
      line.options.listen_address = boost::asio::ip::make_address(value, ec);
      if (ec) return fmt::format("{}: '{}' is not an IP address", flag, value);
    } else if (flag == "--udp-port" || flag == "--tcp-port") {
      auto port = number<std::uint16_t>(flag, value);
      if (!port) return port.error();
      (flag == "--udp-port" ? line.options.udp_port : line.options.tcp_port) = *port;
    } else if (flag == "--min-pow-difficulty") {
      auto difficulty = number<std::uint8_t>(flag, value);
      if (!difficulty) return difficulty.error();
      line.options.min_pow_difficulty = *difficulty;
    } else if (flag == "--hello-interval") {
      auto interval = number<std::uint32_t>(flag, value);
      if (!interval) return interval.error();
      line.options.hello_interval = std::chrono::milliseconds(*interval);
    } else if (flag == "--difficulty") {
      auto difficulty = number<std::uint8_t>(flag, value);
      if (!difficulty) return difficulty.error();
      line.difficulty = *difficulty;
    } else if (flag == "--secret-key") {
      auto sk = p2p::SecKey::from_str(value);
      if (!sk) return fmt::format("{}: {}", flag, p2p::crypto::error::display(sk.error()));
      line.secret_key = *sk;
    } else if (flag == "--pow") {
      auto pow = number<std::int32_t>(flag, value);
      if (!pow) return pow.error();
      line.pow = p2p::Pow(*pow);
    } else if (flag == "--log-level") {
      line.log_level = spdlog::level::from_str(std::string(value));
      if (line.log_level == log::Level::off && value != "off")
        return fmt::format("{}: '{}' is not a log level", flag, value);
    } else {
      return fmt::format("{}: unknown flag", flag);
    }
  }
  if (!network_id_given) return std::string("--network-id is required");
  return line;
}

std::string usage(std::string_view program) {
  return fmt::format(
      "usage: {} --network-id N [options]\n"
      "Serves overlay nodes as a super peer until SIGINT or SIGTERM. The first line on stdout is\n"
      "its URL, naming the ports actually bound.\n"
      "  --network-id N            network id the super peer serves (required)\n"
      "  --listen IP               address of both ports (default 127.0.0.1)\n"
      "  --udp-port P              UDP port, 0 for any (default 0)\n"
      "  --tcp-port P              TCP port, 0 for any (default 0)\n"
      "  --secret-key HEX          identity to use instead of a generated one\n"
      "  --pow N                   proof of work of that identity (default 0)\n"
      "  --difficulty N            proof-of-work difficulty of a generated identity (default 8)\n"
      "  --min-pow-difficulty N    least proof of work accepted from nodes (default 24)\n"
      "  --hello-interval MS       how often nodes greet, their housekeeping interval (default 5000);\n"
      "                            a full registry never forgets a node that greeted within two\n"
      "  --no-udp                  ignore UDP (the port stays bound)\n"
      "  --no-tcp                  refuse TCP links (the port stays bound)\n"
      "  --no-unite                never introduce nodes to each other\n"
      "  --unarmed                 serve unarmed nodes too (anyone may take over their registration)\n"
      "  --log-level LEVEL         trace, debug, info, warn, err or off (default info)\n",
      program);
}

}  // namespace valdori::super_peer
