// A status snapshot to render and encode: every kind of record, with times around a fixed now.
#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>

#include <boost/asio/ip/address.hpp>

#include "agent/agent/status/status.hpp"

namespace valdori::agent::status::test {

using namespace std::chrono_literals;
using boost::asio::ip::make_address;

inline constexpr std::uint64_t kNow = 1'796'601'600'000'000;  // 2026-12-07T00:00:00Z in µs
inline const auto kNowPoint = std::chrono::system_clock::time_point(std::chrono::microseconds(kNow));

inline p2p::PubKey key(std::uint8_t fill) {
  p2p::PubKey::Bytes bytes;
  bytes.fill(fill);
  return p2p::PubKey(bytes);
}

inline p2p::net::SocketAddr addr(const char* ip, std::uint16_t port) { return {make_address(ip), port}; }

inline network::config::EffectiveForwardingList forwardings(std::initializer_list<const char*> nets) {
  network::config::EffectiveForwardingList list;
  for (const char* net : nets) list.destinations.insert(*util::net::Ipv4Net::parse(net));
  return list;
}

// A connected agent's snapshot with one super peer, one node peer and two networks.
inline Status connected() {
  p2p::SecKey::Bytes seed;
  seed.fill(7);
  Status s(p2p::node::NodeOpts{.id = p2p::Identity(p2p::SecKey(seed), p2p::Pow::from(42)),
                               .udp_addrs = {},
                               .tunnel_interface = {},
                               .udp_port = {},
                               .message_sink = {}});
  s.version_info.version = "1.2.3";
  s.version_info.git_commit = "abcdef0";
  s.version_info.git_dirty = "false";
  s.version_info.build_timestamp = "2026-01-02T03:04:05.000000000Z";
  s.version_info.debug_build = "false";
  s.version_info.features = "ffi";
  s.update_available = "1.3.0";
  s.config_path = "/etc/valdori/config.toml";
  s.node_opts.udp_addrs = {make_address("127.0.0.1"), make_address("::1")};
  s.node_opts.udp_port = 0;
  s.node_opts.super_peers = {};
  s.node_opts.max_message_len = 1200;
  s.tun_mtu = 1073;
  s.time_deviation = 46s;
  s.controller = {"https://ctl.example/api", "https://auth.example", "me@example.org", "c2VjcmV0",
                  ControllerConnectionStatus{ControllerConnectionStatus::Err{"timeout"}}};
  s.default_route = key(0x11);

  SuperPeerStatus& sp = s.super_peers[key(0x11)];
  sp.address = "sp.example:22527";
  sp.resolved_addrs = std::vector{addr("192.0.2.1", 22527)};
  sp.tcp_port = 443;
  sp.tcp_path = PathStatus{0, {}, std::nullopt, kNow - 10'000'000};
  const p2p::peer::PeerPathKey udp{addr("127.0.0.1", 4000), addr("192.0.2.1", 22527)};
  sp.best_udp_path = udp;
  sp.udp_paths = {{udp, PathStatus{std::nullopt, {1000, 2001}, addr("192.0.2.1", 22527), kNow - 30'000'000}}};
  sp.reachable = true;

  NodePeerStatus& np = s.node_peers[key(0x22)];
  np.pow = p2p::peer::PowStatus::Ok;
  np.created_at = kNow - 65'250'000;
  np.app_rx = kNow - 1500;
  np.best_relay = key(0x11);
  np.relay_paths = {{key(0x11), PathStatus{kNow - 5'000'000, {3000}, std::nullopt, 0}}};
  np.rx_short_id = p2p::message::ShortId{{1, 2, 3, 4}};

  NetworkStatus& home = s.networks["https://user:pw@conf.example/n.toml"];
  home.name = "home";
  home.health.kind = network::NetworkHealth::Ok{};
  home.current.ip.applied = *util::net::Ipv4Net::parse("10.1.0.7/24");
  home.current.routes.applied.emplace();
  home.current.forwardings.applied = forwardings({"10.2.0.0/16", "10.1.0.0/24"});
  home.current.hostnames.error = "bad";
  home.desired = home.current;
  NetworkStatus& file = s.networks["file:///tmp/b.toml"];
  file.disabled = true;
  file.health.kind = network::NetworkHealth::RetrieveConfigError{"no \"file\""};
  file.desired.ip.applied = *util::net::Ipv4Net::parse("10.9.0.1/16");
  file.desired.forwardings.applied.emplace();
  return s;
}

}  // namespace valdori::agent::status::test
