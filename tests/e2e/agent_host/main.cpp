// valdori-e2e-host: plays the host application on Linux for the end-to-end test and the tunnel
// benchmark.
//
//   valdori-e2e-host [--log-level LEVEL] prepare CONFIG SUPER_PEER_URL NETWORK_URL [MTU]
//     Loads the agent configuration CONFIG, or generates a new identity into it, sets the super
//     peer, joins the network and, when given, the MTU, saves it and prints the node's public key.
//     With VALDORI_E2E_CONTROLLER_URL and VALDORI_E2E_CONTROLLER_SECRET set, the configuration's
//     controller section gets that URL and shared secret.
//
//   valdori-e2e-host [--log-level LEVEL] run CONFIG TUN_NAME NETNS DNS_FILE
//     Creates the TUN interface TUN_NAME with the agent's MTU, moves it into the network
//     namespace NETNS, runs the agent on it and applies each network change inside NETNS
//     (interface_settings.hpp) until SIGINT or SIGTERM, then shuts the agent down.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "agent/agent/agent.hpp"
#include "agent/agent/config.hpp"
#include "platform/tun/tun_device.hpp"
#include "tests/e2e/agent_host/interface_settings.hpp"
#include "tests/e2e/agent_host/tun_interface.hpp"
#include "util/log/log.hpp"
#include "util/runtime/runtime.hpp"
#include "util/system/env.hpp"

namespace {

using namespace valdori;
using Args = std::vector<std::string>;

int fail(std::string_view message) {
  fmt::print(stderr, "valdori-e2e-host: {}\n", message);
  return 1;
}

int prepare(const Args& args) {
  if (args.size() != 3 && args.size() != 4) return fail("prepare takes CONFIG SUPER_PEER_URL NETWORK_URL [MTU]");
  const std::filesystem::path config_path = args[0];
  auto config = agent::AgentConfig::load_or_generate(config_path);
  if (!config) return fail(config.error().to_string());

  auto super_peer = p2p::SuperPeerUrl::try_from(args[1]);
  if (!super_peer) return fail(p2p::display(super_peer.error()));
  config->super_peers = std::vector<p2p::SuperPeerUrl>{*super_peer};

  auto url = util::Url::parse(args[2]);
  if (!url) return fail(url.error().message);
  network::Network network;
  network.config_url = args[2];
  config->networks.insert_or_assign(*url, std::move(network));

  const char* controller_url = std::getenv("VALDORI_E2E_CONTROLLER_URL");
  const char* controller_secret = std::getenv("VALDORI_E2E_CONTROLLER_SECRET");
  if (controller_url != nullptr && controller_secret != nullptr) {
    agent::ControllerConfig controller;
    controller.url = controller_url;
    controller.shared_secret = controller_secret;
    config->controller = std::move(controller);
  }

  if (args.size() == 4) {
    auto mtu = util::system::parse_option<std::uint16_t>(args[3]);
    if (!mtu) return fail(fmt::format("'{}' is not an MTU", args[3]));
    config->mtu = *mtu;
  }
  auto saved = config->save(config_path);
  if (!saved) return fail(saved.error().to_string());
  fmt::print("{}\n", config->identity.pk().to_string());
  return 0;
}

int run(const Args& args) {
  if (args.size() != 4) return fail("run takes CONFIG TUN_NAME NETNS DNS_FILE");
  const std::filesystem::path config_path = args[0];
  const std::string& tun_name = args[1];
  const std::string& netns = args[2];
  auto config = agent::AgentConfig::load(config_path);
  if (!config) return fail(config.error().to_string());

  // The agent's packets are at most its MTU long; the interface must not hand it larger ones.
  const std::uint16_t mtu = config->mtu.value_or(agent::AgentConfig::default_mtu());
  auto fd = e2e::open_tun_in_namespace(tun_name, mtu, netns);
  if (!fd) return fail(fd.error());

  util::Runtime runtime;
  // Installed before the agent starts: whoever waits for its first line may signal at once.
  boost::asio::signal_set stop_signals(runtime.executor(), SIGINT, SIGTERM);
  auto tun = platform::TunDevice::from_fd(runtime.executor(), *fd, platform::TunFraming::Bare);
  if (!tun) {
    ::close(*fd);
    return fail(fmt::format("cannot use the TUN descriptor: {}", tun.error().message()));
  }
  auto settings = std::make_shared<e2e::InterfaceSettings>(netns, tun_name, args[3]);
  agent::PlatformDependent platform{*tun, [settings](agent::NetworkChange change) { settings->apply(change); }};

  auto agent =
      runtime.block_on(agent::Agent::start(runtime.executor(), std::move(*config), config_path, std::move(platform)));
  if (!agent) return fail(agent.error().to_string());
  runtime.block_on(
      [&]() -> boost::asio::awaitable<void> { co_await stop_signals.async_wait(boost::asio::use_awaitable); }());
  runtime.block_on(agent->shutdown());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Args args(argv + 1, argv + argc);
  if (args.size() >= 2 && args[0] == "--log-level") {
    const log::Level level = spdlog::level::from_str(args[1]);
    if (level == log::Level::off && args[1] != "off") return fail(fmt::format("'{}' is not a log level", args[1]));
    log::set_level(level);
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty()) return fail("usage: valdori-e2e-host [--log-level LEVEL] prepare|run ...");
  const std::string mode = args.front();
  args.erase(args.begin());
  if (mode == "prepare") return prepare(args);
  if (mode == "run") return run(args);
  return fail(fmt::format("unknown mode '{}'", mode));
}
