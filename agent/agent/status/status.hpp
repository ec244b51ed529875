// The status snapshot of an agent: plain copies of what the status report prints, taken from
// the overlay node, the agent state and the build. Nothing in it refers back to live objects.
// Times are microseconds since the Unix epoch (0: never).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <boost/asio/awaitable.hpp>

#include "agent/agent/config.hpp"
#include "agent/agent/controller_config.hpp"
#include "agent/network/agent_state.hpp"
#include "agent/network/network_health.hpp"
#include "agent/version/version_info.hpp"
#include "p2p_core/message/short_header.hpp"
#include "p2p_core/node/opts.hpp"
#include "p2p_core/peer/node_peer.hpp"
#include "p2p_core/peer/peer_path.hpp"
#include "p2p_core/peer/super_peer.hpp"
#include "util/url/url.hpp"

namespace valdori::agent {
class AgentInner;
}

namespace valdori::agent::status {

enum class AgentStatus : std::uint8_t { CONNECTED, DISCONNECTED };

// One path as the report shows it.
struct PathStatus {
  std::optional<std::uint64_t> hello;    // absent: no HELLO sent; 0: none unanswered; else since when
  std::vector<std::uint64_t> latencies;  // µs, oldest first
  std::optional<p2p::net::SocketAddr> last_ack_src;
  std::uint64_t last_ack = 0;

  // The node's times in µs of the wall clock: moved by `wall_ahead_ms`, how far the wall clock
  // lies ahead of the node's interval clock (clock.hpp), so that an age read against the wall
  // clock is the interval the node measured, across a step of the wall clock too.
  static PathStatus of(const p2p::peer::PeerPathInner& path, std::int64_t wall_ahead_ms);
};

struct ControllerStatus {
  std::string url;
  std::string auth_url;
  std::optional<std::string> display_login_email;
  std::optional<std::string> shared_secret;
  ControllerConnectionStatus connection_status;
};

struct SuperPeerStatus {
  std::string address;
  std::optional<std::vector<p2p::net::SocketAddr>> resolved_addrs;
  std::uint16_t tcp_port = 0;
  std::optional<PathStatus> tcp_path;  // absent: no TCP connection
  std::optional<p2p::peer::PeerPathKey> best_udp_path;
  std::vector<std::pair<p2p::peer::PeerPathKey, PathStatus>> udp_paths;
  bool reachable = false;

  // `now` and `hello_timeout` in milliseconds of the node's interval clock; times as PathStatus.
  static SuperPeerStatus of(const p2p::peer::SuperPeer& peer, std::uint64_t now, std::uint64_t hello_timeout,
                            std::int64_t wall_ahead_ms);
};

struct NodePeerStatus {
  p2p::peer::PowStatus pow = p2p::peer::PowStatus::Unknw;
  std::uint64_t created_at = 0;
  std::uint64_t app_tx = 0;
  std::uint64_t app_rx = 0;
  std::optional<p2p::peer::PeerPathKey> best_direct_path;
  std::vector<std::pair<p2p::peer::PeerPathKey, PathStatus>> direct_paths;
  p2p::PubKey best_relay;
  std::vector<std::pair<p2p::PubKey, PathStatus>> relay_paths;  // by super peer
  std::optional<p2p::message::ShortId> tx_short_id;
  p2p::message::ShortId rx_short_id;
  bool reachable = false;

  // As SuperPeerStatus::of.
  static NodePeerStatus of(const p2p::peer::NodePeer& peer, std::uint64_t now, std::uint64_t hello_timeout,
                           std::int64_t wall_ahead_ms);
};

struct NetworkStatus {
  std::optional<std::string> name;
  bool disabled = false;
  network::NetworkHealth health;
  network::AgentState current;
  network::AgentState desired;

  // The network's state in a few words: "Disabled", "Disabling..." or "Enabling..." while the
  // flag and the health disagree, else the health's ("Initializing...", "Ok", "Pending",
  // "Config Error - " and the message, "Error - Not a Member").
  std::string status_text() const;
  // A network whose configuration the controller's list provides ("controller" scheme).
  static bool is_controller_managed(const util::Url& url);
};

// Keeps nothing it is given: the node options of a snapshot need a sink, not a receiver.
class StatusMessageSink final : public p2p::node::MessageSink {
 public:
  void accept(const p2p::PubKey& /*sender*/, std::vector<std::uint8_t> /*message*/) override {}
};

struct Status {
  explicit Status(p2p::node::NodeOpts opts) : node_opts(std::move(opts)) {}

  version::VersionInfo version_info;
  std::optional<std::string> update_available;
  AgentStatus agent_status = AgentStatus::CONNECTED;
  std::string config_path;
  p2p::node::NodeOpts node_opts;
  bool dns_disabled = false;
  std::uint16_t tun_mtu = 0;
  std::optional<std::chrono::nanoseconds> time_deviation;
  ControllerStatus controller;
  p2p::PubKey default_route;
  std::map<p2p::PubKey, SuperPeerStatus> super_peers;
  std::map<p2p::PubKey, NodePeerStatus> node_peers;
  std::map<std::string, NetworkStatus> networks;  // by URL text, in byte order

  // The snapshot of a running agent: peers without agent locks, then the networks and then the
  // clock, update and controller facts under two separate read locks of the state.
  static boost::asio::awaitable<Status> from_agent(std::shared_ptr<AgentInner> inner);
  // A DISCONNECTED snapshot of a configuration, with the node options the environment gives.
  static Status from_config(const AgentConfig& config, const std::filesystem::path& config_path);
};

// The report text (status_text.cpp). `now` is the moment elapsed times and reachability are
// measured from.
std::string to_string_with_secrets(const Status& status, bool show_secrets, std::chrono::system_clock::time_point now);

}  // namespace valdori::agent::status
