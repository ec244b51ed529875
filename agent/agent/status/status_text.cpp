// The status report: the snapshot as text for people. Sub-blocks are rendered on their own and
// re-indented line by line, so that nested prefixes add up. Values from outside (names, URLs,
// paths, error texts) show their control characters escaped: each stays on its own line.
#include <algorithm>
#include <string_view>

#include <fmt/format.h>

#include "agent/agent/status/status.hpp"
#include "agent/agent/status/time_text.hpp"
#include "agent/network/config/list_text.hpp"
#include "util/overloaded.hpp"
#include "util/text/debug_string.hpp"
#include "util/url/mask_url.hpp"

namespace valdori::agent::status {
namespace {

using Clock = std::chrono::system_clock;
using util::text::escape_controls;

constexpr std::string_view kOnlyWhenUp = "  Information only available when agent is UP\n";
constexpr std::uint64_t kPathReachableMicros = 30'000'000;
constexpr auto kDeviationThreshold = std::chrono::seconds(45);

std::string_view boolean(bool value) { return value ? "true" : "false"; }

// Every line of `block` (a final line feed ends the last line; a carriage return before a line
// feed is dropped) with `prefix` in front and a line feed after.
void append_indented(std::string& out, std::string_view block, std::string_view prefix) {
  while (!block.empty()) {
    const std::size_t end = block.find('\n');
    std::string_view line = block.substr(0, end);
    if (end != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    fmt::format_to(std::back_inserter(out), "{}{}\n", prefix, line);
    block = end == std::string_view::npos ? std::string_view() : block.substr(end + 1);
  }
}

std::uint64_t micros_of(Clock::time_point now) {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count());
}

// "TIME (ELAPSED ago)", or "Never".
std::string time_with_age(std::uint64_t micros, Clock::time_point now) {
  if (micros == 0) return "Never";
  return fmt::format("{} ({} ago)", format_timestamp(micros), time_ago_in_words(micros, now));
}

std::string millis(std::uint64_t micros) { return fmt::format("{:.3f}", static_cast<double>(micros) / 1000.0); }

std::optional<std::uint64_t> median(std::vector<std::uint64_t> samples) {
  if (samples.empty()) return std::nullopt;
  std::sort(samples.begin(), samples.end());
  const std::size_t mid = samples.size() / 2;
  if (samples.size() % 2 == 1) return samples[mid];
  // The sum of two samples cannot overflow as µs of a real latency; halve first anyway.
  return samples[mid - 1] / 2 + samples[mid] / 2 + (samples[mid - 1] % 2 + samples[mid] % 2) / 2;
}

// Six lines, the last without a line feed.
std::string format_path(const PathStatus& path, Clock::time_point now) {
  std::string out = "Unanswered HELLO Since: ";
  if (!path.hello) {
    out += "No HELLO sent yet";
  } else if (*path.hello == 0) {
    out += "No unanswered HELLO";
  } else {
    fmt::format_to(std::back_inserter(out), "{} ({})", format_timestamp(*path.hello),
                   time_ago_in_words(*path.hello, now));
  }
  fmt::format_to(std::back_inserter(out),
                 "\nLast ACK Time: {}\nLast ACK Source: {}\nLatencies:", time_with_age(path.last_ack, now),
                 path.last_ack_src ? p2p::net::to_string(*path.last_ack_src) : "");
  for (std::size_t i = 0; i < path.latencies.size(); ++i) {
    fmt::format_to(std::back_inserter(out), "{}{}", i == 0 ? " " : " ms, ", millis(path.latencies[i]));
  }
  if (!path.latencies.empty()) out += " ms";
  const auto middle = median(path.latencies);
  fmt::format_to(std::back_inserter(out), "\n  Median Latency: {}\n", middle ? millis(*middle) + " ms" : "None");
  const std::uint64_t now_us = micros_of(now);
  const std::uint64_t age = now_us > path.last_ack ? now_us - path.last_ack : 0;
  fmt::format_to(std::back_inserter(out), "[Reachable: {}]",
                 boolean(path.last_ack != 0 && age <= kPathReachableMicros));
  return out;
}

template <class Key>
std::vector<std::pair<std::string, const PathStatus*>> by_key_text(
    const std::vector<std::pair<Key, PathStatus>>& paths) {
  std::vector<std::pair<std::string, const PathStatus*>> sorted;
  for (const auto& [key, path] : paths) sorted.emplace_back(key.to_string(), &path);
  std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  return sorted;
}

std::string super_peer_text(const SuperPeerStatus& peer, Clock::time_point now) {
  std::string out = fmt::format("Address: {}\n", escape_controls(peer.address));
  if (!peer.resolved_addrs) {
    out += "Resolved Addresses: None\n";
  } else {
    out += "Resolved Addresses:\n";
    for (const auto& addr : *peer.resolved_addrs) fmt::format_to(std::back_inserter(out), "  {}\n", addr);
  }
  fmt::format_to(std::back_inserter(out), "TCP:\n  Port: {}\n", peer.tcp_port);
  if (!peer.tcp_path) {
    out += "  Connection: Not present\n";
  } else {
    const bool established = peer.tcp_path->hello || peer.tcp_path->last_ack != 0;
    fmt::format_to(std::back_inserter(out), "  Connection: {}\n", established ? "Established" : "Establishing");
    append_indented(out, format_path(*peer.tcp_path, now), "  ");
  }
  fmt::format_to(std::back_inserter(out), "UDP:\n  Best Path: {}\n  Paths:\n",
                 peer.best_udp_path ? peer.best_udp_path->to_string() : "None");
  for (const auto& [key, path] : by_key_text(peer.udp_paths)) {
    fmt::format_to(std::back_inserter(out), "    {}:\n", key);
    append_indented(out, format_path(*path, now), "      ");
  }
  fmt::format_to(std::back_inserter(out), "[Reachable: {}]\n", boolean(peer.reachable));
  return out;
}

std::string node_peer_text(const NodePeerStatus& peer, Clock::time_point now) {
  std::string out =
      fmt::format("PoW State: {}\nCreated At: {}\nAPP TX: {}\nAPP RX: {}\nBest Direct Path: {}\n",
                  p2p::peer::debug(peer.pow), time_with_age(peer.created_at, now), time_with_age(peer.app_tx, now),
                  time_with_age(peer.app_rx, now), peer.best_direct_path ? peer.best_direct_path->to_string() : "None");
  out += peer.direct_paths.empty() ? "Direct Paths: None\n" : "Direct Paths:\n";
  for (const auto& [key, path] : by_key_text(peer.direct_paths)) {
    fmt::format_to(std::back_inserter(out), "  {}:\n", key);
    append_indented(out, format_path(*path, now), "    ");
  }
  fmt::format_to(std::back_inserter(out), "Best Relay Path: {}\n", peer.best_relay.to_string());
  out += peer.relay_paths.empty() ? "Relay Paths: None\n" : "Relay Paths:\n";
  for (const auto& [key, path] : by_key_text(peer.relay_paths)) {
    fmt::format_to(std::back_inserter(out), "  Super Peer {}:\n", key);
    append_indented(out, format_path(*path, now), "    ");
  }
  fmt::format_to(std::back_inserter(out), "TX Short ID: {}\nRX Short ID: {}\n[Reachable: {}]\n",
                 peer.tx_short_id ? peer.tx_short_id->to_string() : "None", peer.rx_short_id.to_string(),
                 boolean(peer.reachable));
  return out;
}

std::string forwardings_text(const network::config::EffectiveForwardingList& list) {
  std::vector<util::net::Ipv4Net> nets(list.destinations.begin(), list.destinations.end());
  std::sort(nets.begin(), nets.end());
  std::string out;
  for (const auto& net : nets) fmt::format_to(std::back_inserter(out), "{}\n", net.to_string());
  return out;
}

template <class List>
std::string list_text(const List& list) {
  if constexpr (std::is_same_v<List, network::config::EffectiveForwardingList>) {
    return forwardings_text(list);
  } else {
    return network::config::display(list);
  }
}

template <class List>
std::size_t list_size(const List& list) {
  if constexpr (std::is_same_v<List, network::config::EffectiveForwardingList>) {
    return list.destinations.size();
  } else if constexpr (std::is_same_v<List, network::config::EffectiveAccessRuleList>) {
    return list.rules.size();
  } else if constexpr (std::is_same_v<List, network::config::EffectiveRoutingList>) {
    return list.routes.size();
  } else {
    return list.hostnames.size();
  }
}

template <class List>
void append_list_state(std::string& out, const network::AppliedStatus<List>& state, std::string_view indent) {
  const std::string error = state.error ? " (Error: " + escape_controls(*state.error) + ")" : "";
  if (!state.applied) {
    fmt::format_to(std::back_inserter(out), "{}None{}\n", indent, error);
  } else if (list_size(*state.applied) == 0) {
    fmt::format_to(std::back_inserter(out), "{}Empty{}\n", indent, error);
  } else {
    append_indented(out, list_text(*state.applied), indent);
    if (state.error) fmt::format_to(std::back_inserter(out), "{}Error: {}\n", indent, escape_controls(*state.error));
  }
}

template <class List>
void append_list(std::string& out, std::string_view heading, const network::AppliedStatus<List>& current,
                 const network::AppliedStatus<List>& desired) {
  fmt::format_to(std::back_inserter(out), "{}:\n", heading);
  if (current == desired) {
    append_list_state(out, current, "  ");
  } else {
    out += "  Current:\n";
    append_list_state(out, current, "    ");
    out += "  Desired:\n";
    append_list_state(out, desired, "    ");
  }
}

std::string network_text(const NetworkStatus& network) {
  std::string out = fmt::format("Name: {}\nDisabled: {}\nStatus: {}\n", escape_controls(network.name.value_or("None")),
                                boolean(network.disabled), network::debug(network.health));
  if (network.current.ip == network.desired.ip) {
    fmt::format_to(std::back_inserter(out), "IP: {}\n", network::display(network.current.ip));
  } else {
    fmt::format_to(std::back_inserter(out), "IP:\n  Current: {}\n  Desired: {}\n", network::display(network.current.ip),
                   network::display(network.desired.ip));
  }
  append_list(out, "Access Rules", network.current.access_rules, network.desired.access_rules);
  append_list(out, "Routes", network.current.routes, network.desired.routes);
  append_list(out, "Forwardings", network.current.forwardings, network.desired.forwardings);
  append_list(out, "Hostnames", network.current.hostnames, network.desired.hostnames);
  return out;
}

std::string port_text(const p2p::node::NodeOpts& opts) {
  if (!opts.udp_port) return fmt::format("{} (derived from own public key)", opts.id.pk().udp_port());
  return *opts.udp_port == 0 ? std::string("random") : std::to_string(*opts.udp_port);
}

std::string millis_duration(std::uint64_t ms) { return format_duration(ms / 1000, ms % 1000 * 1'000'000); }

// A URL of the report: credentials only when secrets are shown.
std::string shown_url(const std::string& url, bool show_secrets) {
  return escape_controls(show_secrets ? url : util::mask_url(url));
}

void append_config(std::string& out, const Status& status, bool show_secrets) {
  const p2p::node::NodeOpts& opts = status.node_opts;
  std::string addresses;
  for (const auto& addr : opts.udp_addrs) addresses += (addresses.empty() ? "" : ", ") + addr.to_string();
  fmt::format_to(std::back_inserter(out),
                 "Config:\n  Config Path: {}\n  Identity:\n    Secret Key: {}\n    Public Key: {}\n    PoW: {}\n"
                 "  UDP:\n    Addresses: {}\n    Port: {}\n    Sockets: {}\n  Arm Messages: {}\n  Max. Peers: {}\n"
                 "  Min. PoW Difficulty: {}\n  HELLO Timeout: {}\n  HELLO Max. Age: {}\n  Super Peers:\n",
                 escape_controls(status.config_path),
                 show_secrets ? opts.id.sk().to_string() : std::string(util::kMask), opts.id.pk().to_string(),
                 opts.id.pow().value(), addresses, port_text(opts), opts.udp_sockets, boolean(opts.arm_messages),
                 opts.max_peers, opts.min_pow_difficulty, millis_duration(opts.hello_timeout),
                 millis_duration(opts.hello_max_age));
  for (const auto& url : opts.super_peers) fmt::format_to(std::back_inserter(out), "    {}\n", url.to_string());
  fmt::format_to(std::back_inserter(out),
                 "  Network MTU: {}\n  DNS: {}\n  Process UNITEs: {}\n  Housekeeping Interval: {}\n"
                 "  Enforce TCP: {}\n  TUN MTU: {}\n",
                 opts.max_message_len, status.dns_disabled ? "disabled" : "enabled", boolean(opts.process_unites),
                 millis_duration(opts.housekeeping_interval), boolean(opts.enforce_tcp), status.tun_mtu);
}

void append_time_sync(std::string& out, const Status& status, bool up) {
  out += "Time Synchronization:\n";
  if (!up) {
    out += kOnlyWhenUp;
  } else if (!status.time_deviation) {
    out += "  Deviation: Unable to determine (SNTP check failed)\n";
  } else {
    const auto deviation = *status.time_deviation;
    fmt::format_to(std::back_inserter(out), "  Deviation: {}\n", format_duration(deviation));
    if (deviation > kDeviationThreshold || deviation < -kDeviationThreshold) {
      fmt::format_to(std::back_inserter(out),
                     "  ERROR: System time deviation exceeds threshold ({}s), connectivity with P2P network may be "
                     "lost!\n",
                     std::chrono::abs(std::chrono::duration_cast<std::chrono::seconds>(deviation)).count());
    }
  }
}

void append_controller(std::string& out, const ControllerStatus& controller, bool up, bool show_secrets) {
  std::string secret = "None";
  if (controller.shared_secret)
    secret = show_secrets ? escape_controls(*controller.shared_secret) : std::string(util::kMask);
  fmt::format_to(
      std::back_inserter(out),
      "Controller:\n  URL: {}\n  Auth URL: {}\n  Logged in as: {}\n  HMAC Auth Shared Secret: {}\n"
      "  Connection Status: {}\n",
      shown_url(controller.url, show_secrets), shown_url(controller.auth_url, show_secrets),
      escape_controls(controller.display_login_email.value_or("None")), secret,
      up ? escape_controls(to_string(controller.connection_status)) : "Information only available when agent is UP");
}

}  // namespace

std::string to_string_with_secrets(const Status& status, bool show_secrets, Clock::time_point now) {
  const bool up = status.agent_status == AgentStatus::CONNECTED;
  const version::VersionInfo& info = status.version_info;
  std::string out = fmt::format("Info:\n  Version: {} ({})\n  Built: {}\n  Profile: {}\n  Features: {}\n", info.version,
                                info.full_commit(), info.build_timestamp, info.profile(), info.features);
  if (status.update_available)
    fmt::format_to(std::back_inserter(out), "  Update Available: {}\n", escape_controls(*status.update_available));
  fmt::format_to(std::back_inserter(out), "  Agent Status: {}\n\n", up ? "CONNECTED" : "DISCONNECTED");

  append_config(out, status, show_secrets);
  append_time_sync(out, status, up);
  out += '\n';
  append_controller(out, status.controller, up, show_secrets);
  fmt::format_to(std::back_inserter(out), "\nDefault Route: {}\nSuper Peers:\n", status.default_route.to_string());
  if (!up) out += kOnlyWhenUp;
  for (const auto& [key, peer] : status.super_peers) {
    if (!up) break;
    fmt::format_to(std::back_inserter(out), "  {}:\n", key.to_string());
    append_indented(out, super_peer_text(peer, now), "    ");
  }
  out += "Node Peers:\n";
  if (!up) out += kOnlyWhenUp;
  for (const auto& [key, peer] : status.node_peers) {
    if (!up) break;
    fmt::format_to(std::back_inserter(out), "  {}:\n", key.to_string());
    append_indented(out, node_peer_text(peer, now), "    ");
  }
  out += "\nNetworks:\n";
  if (!up) out += kOnlyWhenUp;
  for (const auto& [url, network] : status.networks) {
    if (!up) break;
    fmt::format_to(std::back_inserter(out), "  {}:\n", shown_url(url, show_secrets));
    append_indented(out, network_text(network), "    ");
  }
  return out;
}

}  // namespace valdori::agent::status
