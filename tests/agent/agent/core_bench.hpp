// Agent cores (node bound, no task started) with hand-made networks, for the tests of the
// desired-state application, the firewall rebuild, shutdown and the network-change listener.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "agent/agent/inner/agent_inner.hpp"
#include "tests/agent/agent/dns/dns_samples.hpp"
#include "tests/support/agent/agent_testbed.hpp"
#include "tests/support/log_capture.hpp"

namespace valdori::agent::testing {

using network::AgentState;
using network::config::Action;
using network::config::Direction;
using network::config::EffectiveAccessRule;
using network::config::EffectiveAccessRuleList;
using network::config::EffectiveForwardingList;
using network::config::EffectiveRoutingList;
using network::config::HostnameList;
using util::net::Ipv4Addr;
using util::net::Ipv4Net;

inline util::Url url(std::string_view text) { return *util::Url::parse(text); }
inline Ipv4Net net(std::string_view text) { return *Ipv4Net::parse(text); }
inline Ipv4Addr addr(std::string_view text) { return *util::net::parse_ipv4_addr(text); }
inline p2p::PubKey peer_key() { return p2p::SecKey::generate().public_key(); }

inline EffectiveAccessRule rule(Direction direction, std::string_view source, std::string_view dest,
                                const p2p::PubKey& pk, Action action = Action::Allow) {
  return {direction, net(source), net(dest), pk, action};
}

inline EffectiveAccessRuleList rules(std::initializer_list<EffectiveAccessRule> list) {
  EffectiveAccessRuleList result;
  for (const auto& r : list) result.rules.emplace(network::config::EffectiveAccessRuleListEntryKey::of(r), r);
  return result;
}

// Routes to `dests`, all through the gateway 10.0.0.1.
inline EffectiveRoutingList routes(std::initializer_list<std::string_view> dests) {
  EffectiveRoutingList result;
  for (const auto dest : dests) {
    result.routes.emplace(net(dest), network::config::EffectiveRoute{net(dest), addr("10.0.0.1")});
  }
  return result;
}

inline HostnameList hostnames(std::initializer_list<std::pair<std::string_view, std::string_view>> entries) {
  HostnameList result;
  for (const auto& [ip, name] : entries) result.hostnames.emplace(addr(ip), std::string(name));
  return result;
}

inline std::size_t count(const valdori::testing::LogCapture& logs, log::Level level, std::string_view text) {
  const auto texts = logs.texts(level);
  return static_cast<std::size_t>(std::count(texts.begin(), texts.end(), text));
}

// The events of one log target, in order.
inline std::vector<std::string> texts_of(const valdori::testing::LogCapture& logs, std::string_view target) {
  std::vector<std::string> texts;
  for (const auto& event : logs.events()) {
    if (event.target == target) texts.push_back(event.text);
  }
  return texts;
}

class CoreTest : public ::testing::Test {
 protected:
  // Replaces the core; `configure` adjusts the bench's configuration first.
  template <class Configure>
  void remake(Configure&& configure, PlatformDependent platform = {}) {
    AgentConfig config = bed_.config();
    configure(config);
    inner_ = bed_.make_inner(std::move(config), std::move(platform));
  }
  void remake(PlatformDependent platform) {
    remake([](AgentConfig&) {}, std::move(platform));
  }

  NetworkMap& networks() { return inner_->state.config.networks; }

  // Adds a network whose desired state is `desired`; nothing applied yet.
  network::Network& join(std::string_view url_text, AgentState desired = {}, bool disabled = false) {
    network::Network network;
    network.config_url = std::string(url_text);
    network.disabled = disabled;
    network.desired_state = std::move(desired);
    return networks().insert_or_assign(url(url_text), std::move(network)).first->second;
  }

  void apply(std::string_view url_text) { AgentInner::apply_desired_state(inner_, networks(), url(url_text)); }

  // The A records the responder answers for `name`, or none when it answers with an error.
  std::optional<std::vector<Ipv4Addr>> resolve(const char* name) {
    TunPair tunnel(bed_.executor());
    const auto query = dns::testing::query_wire(name, LDNS_RR_TYPE_A);
    bed_.runtime().block_on(
        inner_->dns->on_packet(tunnel.device(), {addr("10.0.0.7"), 40001}, {addr("10.0.0.254"), 53}, query));
    const auto packet = tunnel.receive();
    constexpr std::size_t kIpv4UdpHeaders = 28;
    if (!packet || packet->size() <= kIpv4UdpHeaders) {
      ADD_FAILURE() << "no answer for " << name;
      return std::nullopt;
    }
    const auto reply = dns::testing::from_wire(Bytes(packet->begin() + kIpv4UdpHeaders, packet->end()));
    if (ldns_pkt_get_rcode(reply.get()) != LDNS_RCODE_NOERROR) return std::nullopt;
    return dns::testing::answer_addresses(*reply);
  }

  valdori::testing::LogCapture logs_;
  AgentTestbed bed_;
  std::shared_ptr<AgentInner> inner_ = bed_.make_inner(bed_.config());
};

}  // namespace valdori::agent::testing
