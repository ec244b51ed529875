#include "agent/agent/inner/agent_inner.hpp"

#include "agent/agent/inner/channel_sink.hpp"
#include "agent/agent/inner/start_options.hpp"
#include "p2p_core/identity/pow.hpp"
#include "p2p_core/identity/super_peer_url.hpp"
#include "p2p_core/node/opts_builder.hpp"
#include "util/log/log.hpp"
#include "util/system/env.hpp"

namespace valdori::agent {
namespace {

namespace asio = boost::asio;

constexpr std::uint16_t kMinIpv4Mtu = 68;

spdlog::logger& lg() { return log::module_logger<"valdori_agent::agent">(); }

// The connection status a controller section starts with: signed in only when both the login
// e-mail and the shared secret are known.
void set_initial_connection_status(AgentConfig& config) {
  if (!config.controller) return;
  auto& controller = *config.controller;
  if (controller.display_login_email && controller.shared_secret) {
    controller.connection_status = {ControllerConnectionStatus::Initializing{}};
  } else {
    controller.connection_status = {ControllerConnectionStatus::LoggedOut{}};
  }
}

// The configured MTU, else the default. Below the least every IPv4 link must carry, no packet
// (and no ICMP reply quoting one) could pass, so such a value falls back to the default; the
// default is also the most one overlay message carries, so a larger value is clamped to it.
std::uint16_t packet_mtu(std::optional<std::uint16_t> configured) {
  const std::uint16_t most = AgentConfig::default_mtu();
  if (configured && *configured > most) {
    VLOG_WARN(lg(), "Configured MTU {} is above the {} bytes one overlay message carries; using {}", *configured, most,
              most);
    return most;
  }
  if (configured && *configured < kMinIpv4Mtu) {
    VLOG_WARN(lg(), "Configured MTU {} is below the IPv4 minimum of {} bytes; using the default MTU", *configured,
              kMinIpv4Mtu);
    return AgentConfig::default_mtu();
  }
  return configured.value_or(AgentConfig::default_mtu());
}

// A task count of zero or less starts no task of its kind: the agent runs, but without a part of
// its packet path.
void warn_if_no_tasks(std::string_view option, std::string_view missing) {
  const std::int32_t count = util::system::get_env<std::int32_t>(option, 1);
  if (count <= 0) VLOG_WARN(lg(), "VALDORI_{} is {}: {}", option, count, missing);
}

// Peers drop every message whose sender's proof of work is below their minimum; this node would
// run and be ignored.
void check_identity_pow(const p2p::Identity& identity, std::uint8_t min_difficulty) {
  if (p2p::pow_meets_difficulty(identity.pk(), identity.pow(), min_difficulty)) return;
  VLOG_ERROR(lg(), "The identity's proof of work is below the minimum difficulty of {}: peers will drop its messages",
             min_difficulty);
}

}  // namespace

asio::awaitable<boost::system::result<std::shared_ptr<AgentInner>, error::Error>> AgentInner::create(
    asio::any_io_executor executor, AgentConfig config, std::filesystem::path config_path, PlatformDependent platform) {
  util::CancellationToken token;

  std::vector<p2p::SuperPeerUrl> super_peers = config.super_peers ? *config.super_peers : p2p::SUPER_PEERS_DEFAULT();
  const StartOptions options = StartOptions::from_env();
  check_identity_pow(config.identity, options.min_pow_difficulty);
  warn_if_no_tasks("TUN_THREADS", "no task reads the tunnel or writes to it, so no packet passes");
  warn_if_no_tasks("C2D_THREADS", "no task sends the tunnel's packets into the overlay");
  auto inbound = std::make_shared<InboundQueue>(executor, options.recv_buf_cap);

  auto udp_addrs = parse_udp_addrs(options.udp_addrs);
  if (!udp_addrs) co_return error::Error(error::Kind::ConfigParse, udp_addrs.error());
  auto node_opts = p2p::node::NodeOptsBuilder()
                       .id(config.identity)
                       .arm_messages(options.arm_messages)
                       .min_pow_difficulty(options.min_pow_difficulty)
                       .max_peers(options.max_peers)
                       .hello_timeout(options.hello_timeout)
                       .hello_max_age(options.hello_max_age)
                       .process_unites(options.process_unites)
                       .housekeeping_interval(options.housekeeping_interval)
                       .udp_sockets(options.udp_sockets)
                       .enforce_tcp(options.enforce_tcp)
                       .udp_addrs(std::move(*udp_addrs))
                       .tunnel_interface(platform.tun ? platform.tun->interface_name() : std::string())
                       .udp_port(options.udp_port)
                       .super_peers(std::move(super_peers))
                       .message_sink(std::make_shared<ChannelSink>(inbound))
                       .build();
  if (!node_opts) {
    co_return error::Error(error::Kind::ConfigParse, "Invalid node options: " + p2p::node::display(node_opts.error()));
  }
  // The node's readers dispatch on the inbound lane, where the inbound queue's consumers write the
  // tunnel; the tunnel readers, the outbound queue's consumers and their sends share the other.
  util::DirectionLanes lanes = util::direction_lanes(executor);
  auto bound = co_await valdori::node::Node::bind(executor, std::move(*node_opts), lanes.inbound);
  if (!bound) co_return error::Error(error::Kind::Node, p2p::node::error::display(bound.error()));
  auto node = std::make_shared<valdori::node::Node>(std::move(*bound));
  // No network is applied yet: every sender is a stranger until one is.
  node->inner()->set_members(std::make_shared<const p2p::node::MemberKeys>());

  auto outbound = std::make_shared<OutboundQueue>(executor, options.channel_cap);
  const bool dns_disabled = config.dns && config.dns->disabled == true;
  AgentConfig state_config = config.clone();
  set_initial_connection_status(state_config);
  auto shared_platform = std::make_shared<const PlatformDependent>(std::move(platform));
  const std::uint16_t mtu = packet_mtu(config.mtu);
  co_return std::make_shared<AgentInner>(token, std::move(node), std::move(inbound), std::move(shared_platform),
                                         dns_disabled ? nullptr : std::make_unique<dns::AgentDns>(),
                                         std::move(outbound), std::move(config_path), config.identity, mtu, executor,
                                         std::move(lanes), std::move(state_config));
}

}  // namespace valdori::agent
