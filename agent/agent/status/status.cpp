// Collecting the status snapshot: the overlay node's options and peer table (no agent lock), then
// the agent state under two separate read locks, copied so that rendering holds no lock.
#include "agent/agent/status/status.hpp"

#include <variant>

#include "agent/agent/inner/agent_inner.hpp"
#include "agent/agent/inner/start_options.hpp"
#include "p2p_core/node/node_inner.hpp"
#include "p2p_core/node/opts_builder.hpp"
#include "p2p_core/peer/peer.hpp"
#include "util/log/log.hpp"

namespace valdori::agent::status {
namespace {

spdlog::logger& lg() { return log::module_logger<"valdori_agent::agent::status">(); }

constexpr std::uint64_t kMicrosPerMilli = 1000;
// The window within which a node peer counts as reachable in the report, in milliseconds.
constexpr std::uint64_t kReachableWindowMs = 30000;

// A time of the node's interval clock in µs of the wall clock; 0 (never) stays.
std::uint64_t on_wall(std::uint64_t ms, std::int64_t wall_ahead_ms) {
  if (ms == 0) return 0;
  return (ms + static_cast<std::uint64_t>(wall_ahead_ms)) * kMicrosPerMilli;
}

template <class Key, class Map>
std::vector<std::pair<Key, PathStatus>> copy_paths(const Map& paths, std::int64_t wall_ahead_ms) {
  std::vector<std::pair<Key, PathStatus>> copies;
  for (const auto& [key, path] : *paths.snapshot())
    copies.emplace_back(key, PathStatus::of(*path->inner(), wall_ahead_ms));
  return copies;
}

}  // namespace

SuperPeerStatus SuperPeerStatus::of(const p2p::peer::SuperPeer& peer, std::uint64_t now, std::uint64_t hello_timeout,
                                    std::int64_t wall_ahead_ms) {
  SuperPeerStatus status;
  status.address = peer.addr();
  if (const auto resolved = peer.resolved_addrs()) status.resolved_addrs = *resolved;
  status.tcp_port = peer.tcp_port();
  if (const auto connection = peer.tcp_connection())
    status.tcp_path = PathStatus::of(*connection->path().inner(), wall_ahead_ms);
  status.best_udp_path = peer.best_udp_path_key(now, hello_timeout);
  status.udp_paths = copy_paths<p2p::peer::PeerPathKey>(peer.udp_paths(), wall_ahead_ms);
  status.reachable = peer.is_reachable(now, hello_timeout);
  return status;
}

NodePeerStatus NodePeerStatus::of(const p2p::peer::NodePeer& peer, std::uint64_t now, std::uint64_t hello_timeout,
                                  std::int64_t wall_ahead_ms) {
  NodePeerStatus status;
  status.pow = peer.pow();
  status.created_at = on_wall(peer.created_at(), wall_ahead_ms);
  status.app_tx = on_wall(peer.app_tx_time(), wall_ahead_ms);
  status.app_rx = on_wall(peer.app_rx_time(), wall_ahead_ms);
  status.best_direct_path = peer.best_path_key(now, hello_timeout);
  status.direct_paths = copy_paths<p2p::peer::PeerPathKey>(peer.paths(), wall_ahead_ms);
  status.best_relay = peer.best_sp();
  status.relay_paths = copy_paths<p2p::PubKey>(peer.relay_paths(), wall_ahead_ms);
  status.tx_short_id = peer.tx_short_id();
  status.rx_short_id = peer.rx_short_id();
  status.reachable = peer.is_reachable(now, kReachableWindowMs);
  return status;
}

namespace {

// The controller section; a configuration without one reads as an empty, logged-out section.
ControllerStatus controller_status(const std::optional<ControllerConfig>& controller) {
  ControllerConfig section;
  if (controller) {
    section = *controller;
  } else {
    section.connection_status.kind = ControllerConnectionStatus::LoggedOut{};
  }
  return {section.url_or_default(), section.auth_url_or_default(), section.display_login_email, section.shared_secret,
          section.connection_status};
}

NetworkStatus network_status(const network::Network& network) {
  return {network.name, network.disabled, network.health, network.current_state, network.desired_state};
}

// Every network of the map, keyed by its URL text.
std::map<std::string, NetworkStatus> network_statuses(const NetworkMap& networks) {
  std::map<std::string, NetworkStatus> statuses;
  for (const auto& [url, network] : networks) statuses.emplace(std::string(url.as_string()), network_status(network));
  return statuses;
}

}  // namespace

PathStatus PathStatus::of(const p2p::peer::PeerPathInner& path, std::int64_t wall_ahead_ms) {
  PathStatus status;
  if (path.hello) status.hello = on_wall(*path.hello, wall_ahead_ms);
  status.latencies = path.latencies;
  status.last_ack_src = path.last_ack_src;
  status.last_ack = on_wall(path.last_ack, wall_ahead_ms);
  return status;
}

boost::asio::awaitable<Status> Status::from_agent(std::shared_ptr<AgentInner> inner) {
  p2p::node::NodeInner& node = *inner->node->inner();
  Status status(node.opts());

  VLOG_TRACE(lg(), "Getting peers");
  status.default_route = node.peers().default_route();
  const std::uint64_t now = node.current_time();
  const auto wall_ahead_ms = static_cast<std::int64_t>(node.wall_time() - now);
  const std::uint64_t hello_timeout = status.node_opts.hello_timeout;
  for (const auto& [key, peer] : node.peers().snapshot()) {
    if (const auto* super_peer = std::get_if<std::shared_ptr<p2p::peer::SuperPeer>>(&peer)) {
      status.super_peers.emplace(key, SuperPeerStatus::of(**super_peer, now, hello_timeout, wall_ahead_ms));
    } else if (const auto* node_peer = std::get_if<std::shared_ptr<p2p::peer::NodePeer>>(&peer)) {
      status.node_peers.emplace(key, NodePeerStatus::of(**node_peer, now, hello_timeout, wall_ahead_ms));
    }
  }
  status.tun_mtu = inner->mtu;
  status.dns_disabled = inner->dns == nullptr;

  VLOG_TRACE(lg(), "Locking state to get status");
  {
    const util::RwLock::ReadGuard guard = co_await inner->state_lock.read();
    status.networks = network_statuses(inner->state.config.networks);
  }
  VLOG_TRACE(lg(), "Networks retrieved");
  {
    const util::RwLock::ReadGuard guard = co_await inner->state_lock.read();
    if (inner->state.time_deviation) status.time_deviation = *inner->state.time_deviation;
    status.update_available = inner->state.available_update;
    status.controller = controller_status(inner->state.config.controller);
  }
  status.config_path = inner->config_path.string();
  status.agent_status = AgentStatus::CONNECTED;
  co_return status;
}

Status Status::from_config(const AgentConfig& config, const std::filesystem::path& config_path) {
  const StartOptions options = StartOptions::from_env();
  p2p::node::NodeOptsBuilder builder;
  builder.id(config.identity)
      .arm_messages(options.arm_messages)
      .min_pow_difficulty(options.min_pow_difficulty)
      .max_peers(options.max_peers)
      .hello_timeout(options.hello_timeout)
      .hello_max_age(options.hello_max_age)
      .udp_sockets(options.udp_sockets)
      .udp_port(options.udp_port)
      .super_peers(config.super_peers ? *config.super_peers : p2p::SUPER_PEERS_DEFAULT())
      .message_sink(std::make_shared<StatusMessageSink>());
  if (auto addrs = parse_udp_addrs(options.udp_addrs)) builder.udp_addrs(std::move(*addrs));
  // Options the builder refuses leave the defaults with this identity: a snapshot still results.
  auto opts = builder.build();
  Status status(
      opts ? std::move(*opts)
           : p2p::node::NodeOpts{
                 .id = config.identity, .udp_addrs = {}, .tunnel_interface = {}, .udp_port = {}, .message_sink = {}});
  status.tun_mtu = options.arm_messages ? 1073 : 1121;
  status.controller = controller_status(config.controller);
  if (config.controller) {
    const bool signed_in = config.controller->shared_secret && config.controller->display_login_email;
    using Kind = decltype(ControllerConnectionStatus::kind);
    status.controller.connection_status.kind =
        signed_in ? Kind(ControllerConnectionStatus::Initializing{}) : Kind(ControllerConnectionStatus::LoggedOut{});
  }
  status.config_path = config_path.string();
  status.agent_status = AgentStatus::DISCONNECTED;
  return status;
}

}  // namespace valdori::agent::status
