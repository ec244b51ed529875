// The status report rendered from a hostile snapshot: names, URLs, addresses, error texts and
// host names as a controller, a network document or a peer could make them, and times anywhere
// in the 64-bit range. The report without secrets must hold neither the node's secret key, nor
// the controller's shared secret, nor the user name or password of a network URL (the harness
// puts markers there), unless the input itself spells them out elsewhere.
//
// Input: a byte of flags, the moment `now`, the time deviation, then records until the input
// ends, each a kind byte and its fields: a network, a super peer, a node peer, or the agent's own
// texts (version, update, paths, controller, super peer URLs).
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <boost/asio/ip/address.hpp>

#include "agent/agent/status/status.hpp"
#include "fuzz/fuzz_input.hpp"
#include "p2p_core/identity/super_peer_url.hpp"
#include "util/url/url.hpp"

namespace valdori::fuzz {
namespace {

using namespace agent::status;
using util::net::Ipv4Addr;
using util::net::Ipv4Net;

constexpr std::string_view kSharedSecret = "shared-secret-7d1c90";
constexpr std::string_view kUrlUser = "url-user-5a2f61";
constexpr std::string_view kUrlPassword = "url-password-3b9e47";

p2p::Identity identity() {
  p2p::SecKey::Bytes seed;  // unlike any key of the harness (one byte repeated)
  for (std::size_t i = 0; i < seed.size(); ++i) seed[i] = static_cast<std::uint8_t>(0x40 + 3 * i);
  return p2p::Identity(p2p::SecKey(seed), p2p::Pow::from(7));
}

p2p::PubKey key(std::uint8_t fill) {
  p2p::PubKey::Bytes bytes;
  bytes.fill(fill);
  return p2p::PubKey(bytes);
}

p2p::net::SocketAddr address(FuzzInput& in) {
  const std::uint8_t kind = in.byte();
  if ((kind & 1) != 0) {
    boost::asio::ip::address_v6::bytes_type bytes{};
    const auto taken = in.bytes(bytes.size());
    std::copy(taken.begin(), taken.end(), bytes.begin());
    return {boost::asio::ip::address_v6(bytes), in.u16()};
  }
  const auto ip = static_cast<std::uint32_t>(in.u16()) << 16 | in.u16();
  return {Ipv4Addr(ip), in.u16()};
}

Ipv4Net net(FuzzInput& in) {
  const auto ip = static_cast<std::uint32_t>(in.u16()) << 16 | in.u16();
  return Ipv4Net(Ipv4Addr(ip), static_cast<std::uint8_t>(in.byte() % 33));
}

PathStatus path(FuzzInput& in) {
  PathStatus path;
  const std::uint8_t flags = in.byte();
  if ((flags & 1) != 0) path.hello = (flags & 2) != 0 ? in.u64() : 0;
  for (std::uint8_t n = flags >> 4; n > 0; --n) path.latencies.push_back(in.u64());
  if ((flags & 4) != 0) path.last_ack_src = address(in);
  path.last_ack = in.u64();
  return path;
}

p2p::peer::PeerPathKey path_key(FuzzInput& in) { return {address(in), address(in)}; }

template <class T>
network::AppliedStatus<T> applied(FuzzInput& in, std::uint8_t flags, T value) {
  network::AppliedStatus<T> status;
  if ((flags & 1) != 0) status.applied = std::move(value);
  if ((flags & 2) != 0) status.error = in.text();
  return status;
}

network::AgentState agent_state(FuzzInput& in) {
  network::AgentState state;
  state.ip = applied(in, in.byte(), net(in));
  network::config::EffectiveAccessRuleList rules;
  network::config::EffectiveRoutingList routes;
  network::config::EffectiveForwardingList forwardings;
  network::config::HostnameList hostnames;
  for (std::uint8_t n = in.byte() % 8; n > 0; --n) {
    const std::uint8_t choice = in.byte();
    const network::config::EffectiveAccessRule rule{static_cast<network::config::Direction>(choice & 1), net(in),
                                                    net(in), key(choice),
                                                    static_cast<network::config::Action>(choice >> 1 & 1)};
    rules.rules.insert_or_assign(network::config::EffectiveAccessRuleListEntryKey::of(rule), rule);
    const Ipv4Net dest = net(in);
    routes.routes.insert_or_assign(dest, network::config::EffectiveRoute{dest, Ipv4Addr(in.u16())});
    forwardings.destinations.insert(net(in));
    hostnames.hostnames.insert_or_assign(Ipv4Addr(in.u16()), in.text());
  }
  const std::uint8_t flags = in.byte();
  state.access_rules = applied(in, flags, std::move(rules));
  state.routes = applied(in, flags >> 2, std::move(routes));
  state.forwardings = applied(in, flags >> 4, std::move(forwardings));
  state.hostnames = applied(in, flags >> 6, std::move(hostnames));
  return state;
}

void add_network(Status& status, FuzzInput& in) {
  const std::uint8_t flags = in.byte();
  auto url = util::Url::parse(in.text());
  if (!url) return;
  std::string text(url->as_string());
  if ((flags & 1) != 0) {  // a network URL with credentials, as a configuration may hold one
    // Only a URL with a host other than the empty one, and not a file URL, can carry them.
    if (!url->host() || url->host()->serialized.empty() || url->scheme() == "file") return;
    const std::size_t authority = url->scheme().size() + 3;  // past "scheme://"
    auto with_credentials = util::Url::parse(text.substr(0, authority) + std::string(kUrlUser) + ":" +
                                             std::string(kUrlPassword) + "@" + text.substr(authority));
    if (!with_credentials) return;
    text = with_credentials->as_string();
  }
  NetworkStatus& network = status.networks[text];
  if ((flags & 2) != 0) network.name = in.text();
  network.disabled = (flags & 4) != 0;
  using Health = network::NetworkHealth;
  switch (flags >> 3 & 7) {
    case 0: network.health = {Health::Disabled{}}; break;
    case 1: network.health = {Health::Ok{}}; break;
    case 2: network.health = {Health::Pending{}}; break;
    case 3: network.health = {Health::RetrieveConfigError{in.text()}}; break;
    case 4: network.health = {Health::NotAMemberError{}}; break;
    default: network.health = {Health::Initializing{}}; break;
  }
  network.current = agent_state(in);
  network.desired = (flags & 0x40) != 0 ? network.current : agent_state(in);
}

void add_super_peer(Status& status, FuzzInput& in) {
  SuperPeerStatus& peer = status.super_peers[key(in.byte())];
  const std::uint8_t flags = in.byte();
  peer.address = in.text();
  if ((flags & 1) != 0) {
    peer.resolved_addrs.emplace();
    for (std::uint8_t n = flags >> 5; n > 0; --n) peer.resolved_addrs->push_back(address(in));
  }
  peer.tcp_port = in.u16();
  if ((flags & 2) != 0) peer.tcp_path = path(in);
  if ((flags & 4) != 0) peer.best_udp_path = path_key(in);
  for (std::uint8_t n = flags >> 3 & 3; n > 0; --n) peer.udp_paths.emplace_back(path_key(in), path(in));
  peer.reachable = (flags & 0x80) != 0;
}

void add_node_peer(Status& status, FuzzInput& in) {
  NodePeerStatus& peer = status.node_peers[key(in.byte())];
  const std::uint8_t flags = in.byte();
  peer.pow = static_cast<p2p::peer::PowStatus>(flags % 3);
  peer.created_at = in.u64();
  peer.app_tx = in.u64();
  peer.app_rx = in.u64();
  if ((flags & 4) != 0) peer.best_direct_path = path_key(in);
  for (std::uint8_t n = flags >> 3 & 3; n > 0; --n) peer.direct_paths.emplace_back(path_key(in), path(in));
  peer.best_relay = key(in.byte());
  for (std::uint8_t n = flags >> 5 & 3; n > 0; --n) peer.relay_paths.emplace_back(key(in.byte()), path(in));
  if ((flags & 0x80) != 0) peer.tx_short_id = p2p::message::ShortId{{in.byte(), in.byte(), in.byte(), in.byte()}};
  peer.rx_short_id = p2p::message::ShortId{{in.byte(), in.byte(), in.byte(), in.byte()}};
  peer.reachable = (flags & 1) != 0;
}

void add_agent_texts(Status& status, FuzzInput& in) {
  const std::uint8_t flags = in.byte();
  status.version_info.version = in.text();
  status.version_info.git_commit = in.text();
  status.version_info.git_dirty = (flags & 1) != 0 ? "true" : "false";
  status.version_info.build_timestamp = in.text();
  status.version_info.features = in.text();
  if ((flags & 2) != 0) status.update_available = in.text();
  status.config_path = in.text();
  status.controller.url = in.text();
  status.controller.auth_url = in.text();
  if ((flags & 4) != 0) status.controller.display_login_email = in.text();
  if ((flags & 8) != 0) status.controller.connection_status = {agent::ControllerConnectionStatus::Err{in.text()}};
  if (auto url = p2p::SuperPeerUrl::try_from(in.text())) status.node_opts.super_peers.push_back(*url);
  status.node_opts.udp_addrs.push_back(address(in).address());
  if ((flags & 16) != 0) status.node_opts.udp_port = in.u16();
  status.node_opts.hello_timeout = in.u64();
  status.tun_mtu = in.u16();
}

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

}  // namespace
}  // namespace valdori::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace valdori::fuzz;
  static const valdori::p2p::Identity id = identity();
  static const std::string secret_key = id.sk().to_string();
  FuzzInput in(data, size);
  Status status(valdori::p2p::node::NodeOpts{
      .id = id, .udp_addrs = {}, .tunnel_interface = {}, .udp_port = {}, .message_sink = {}});
  status.node_opts.super_peers.clear();
  const std::uint8_t flags = in.byte();
  status.agent_status = (flags & 1) != 0 ? AgentStatus::DISCONNECTED : AgentStatus::CONNECTED;
  if ((flags & 2) != 0) status.controller.shared_secret = std::string(kSharedSecret);
  const auto now = std::chrono::system_clock::time_point(std::chrono::microseconds(in.u64() >> 11));
  if ((flags & 4) != 0) status.time_deviation = std::chrono::nanoseconds(static_cast<std::int64_t>(in.u64()));
  status.default_route = key(in.byte());
  while (!in.empty()) {
    switch (in.byte() % 4) {
      case 0: add_network(status, in); break;
      case 1: add_super_peer(status, in); break;
      case 2: add_node_peer(status, in); break;
      default: add_agent_texts(status, in); break;
    }
  }

  (void)to_string_with_secrets(status, true, now);
  const std::string report = to_string_with_secrets(status, false, now);
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  for (const std::string_view secret : {std::string_view(secret_key), kSharedSecret, kUrlUser, kUrlPassword}) {
    if (contains(report, secret) && !contains(input, secret)) std::abort();  // a secret in the masked report
  }
  return 0;
}
