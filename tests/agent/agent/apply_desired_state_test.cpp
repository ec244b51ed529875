#include <gtest/gtest.h>

#include "agent/agent/dns/dns_step.hpp"
#include "agent/agent/router/router_step.hpp"
#include "core_bench.hpp"

namespace valdori::agent::testing {
namespace {

constexpr const char* kNetworkA = "https://example.com/a.toml";
constexpr const char* kNetworkB = "https://example.com/b.toml";
constexpr const char* kUnknown = "https://example.com/unknown.toml";
constexpr const char* kNetifLine =
    "We're running on a mobile platform where the network listener handles TUN address updates. Therefore, we just "
    "assume everything is fine and hope for the best! 🤞";
constexpr const char* kRouterLine =
    "We're running on a mobile platform where the network listener handles route updates. Therefore, we just assume "
    "everything is fine and hope for the best! 🤞";
constexpr const char* kDnsTarget = "valdori_agent::agent::dns::mobile";

AgentState with_ip(std::string_view ip) {
  AgentState state;
  state.ip.applied = net(ip);
  return state;
}

using ApplyDesiredState = CoreTest;

TEST_F(ApplyDesiredState, StartsTheTunnelSupervisorOnceForAnyNetwork) {
  join(kNetworkA, with_ip("10.1.0.5/16"));
  join(kNetworkB, with_ip("10.2.0.5/16"));
  EXPECT_FALSE(inner_->netif.slot()->token);

  for (const char* network : {kNetworkA, kNetworkB, kUnknown, kNetworkA}) apply(network);

  EXPECT_EQ(count(logs_, log::Level::trace, "Start TUN device runner"), 1u);
  EXPECT_EQ(count(logs_, log::Level::trace, kNetifLine), 4u);
  const auto slot = inner_->netif.slot();
  ASSERT_TRUE(slot->token);
  EXPECT_FALSE(slot->token->is_cancelled());
  // The tunnel token is a child of the agent token.
  inner_->token.cancel();
  EXPECT_TRUE(slot->token->is_cancelled());
}

TEST_F(ApplyDesiredState, UnknownUrlChangesNoNetworkButTheDnsStillFollowsTheMap) {
  auto& known = join(kNetworkA);
  known.current_state.ip.applied = net("10.1.2.3/24");
  known.desired_state.routes.applied = routes({"192.168.0.0/24"});
  known.desired_state.hostnames.applied = hostnames({{"10.1.2.3", "known"}});

  apply(kUnknown);

  EXPECT_EQ(count(logs_, log::Level::trace, kNetifLine), 1u);
  EXPECT_EQ(count(logs_, log::Level::trace, kRouterLine), 0u);
  EXPECT_FALSE(known.current_state.routes.applied);
  EXPECT_EQ(inner_->dns->server_ip(), addr("10.1.2.254"));
  EXPECT_EQ(known.current_state.hostnames, known.desired_state.hostnames);
  EXPECT_EQ(resolve("known.valdori."), std::vector{addr("10.1.2.3")});
}

TEST_F(ApplyDesiredState, ResponderAddressIsBelowTheBroadcastOfTheFirstEnabledNetworkWithAnAddress) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::optional<const char*>, bool>> networks;  // address, disabled
    std::optional<const char*> expected;
  };
  const Case cases[] = {
      {"a /24", {{"10.1.2.3/24", false}}, "10.1.2.254"},
      {"a /16", {{"10.20.0.7/16", false}}, "10.20.255.254"},
      {"no address", {{std::nullopt, false}}, std::nullopt},
      {"disabled", {{"10.1.2.3/24", true}}, std::nullopt},
      {"disabled beside enabled", {{"10.1.2.3/24", true}, {"10.20.0.7/16", false}}, "10.20.255.254"},
      {"no address beside one", {{std::nullopt, false}, {"10.20.0.7/16", false}}, "10.20.255.254"},
      {"the first URL of many, whatever the map's order",
       {{"10.1.0.1/24", false},
        {"10.2.0.1/24", false},
        {"10.3.0.1/24", false},
        {"10.4.0.1/24", false},
        {"10.5.0.1/24", false},
        {"10.6.0.1/24", false},
        {"10.7.0.1/24", false},
        {"10.8.0.1/24", false}},
       "10.1.0.254"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NetworkMap map;
    int n = 0;
    for (const auto& [ip, disabled] : c.networks) {
      network::Network network;
      network.disabled = disabled;
      if (ip) network.current_state.ip.applied = net(*ip);
      map.emplace(url("https://example.com/" + std::to_string(n++)), std::move(network));
    }
    const auto expected = c.expected ? std::optional(addr(*c.expected)) : std::nullopt;
    EXPECT_EQ(dns::responder_address(map), expected);
  }
}

TEST_F(ApplyDesiredState, ResponderAddressFollowsTheUrlOrderAndIsStoredOnlyWhenItChanges) {
  join(kNetworkA, with_ip("10.1.2.3/24"));
  join(kNetworkB, with_ip("10.20.0.7/16"));
  const auto responder_of = [](const std::string& network) {
    return network == kNetworkA ? addr("10.1.2.254") : addr("10.20.255.254");
  };
  const std::string first = kNetworkA;
  const std::string second = kNetworkB;

  apply(first);
  apply(second);
  EXPECT_EQ(inner_->dns->server_ip(), responder_of(first));
  // Clearing an address moves the responder to the next network, then to none.
  networks().at(url(first)).desired_state = {};
  apply(first);
  EXPECT_EQ(inner_->dns->server_ip(), responder_of(second));
  networks().at(url(second)).desired_state = {};
  apply(second);
  EXPECT_EQ(inner_->dns->server_ip(), std::nullopt);

  std::vector<std::string> changes;
  for (const auto& text : texts_of(logs_, kDnsTarget)) {
    if (text.starts_with("DNS server IP changed")) changes.push_back(text);
  }
  const std::string a = responder_of(first).to_string();
  const std::string b = responder_of(second).to_string();
  EXPECT_EQ(changes, (std::vector<std::string>{"DNS server IP changed: None -> Some(" + a + ")",
                                               "DNS server IP changed: Some(" + a + ") -> Some(" + b + ")",
                                               "DNS server IP changed: Some(" + b + ") -> None"}));
}

TEST_F(ApplyDesiredState, GatewayForwardingsAreRecordedAsAnError) {
  struct Case {
    const char* name;
    std::optional<EffectiveForwardingList> desired;
    bool gateway;
  };
  const Case cases[] = {
      {"absent", std::nullopt, false},
      {"empty", EffectiveForwardingList{}, false},
      {"one entry", EffectiveForwardingList{{net("192.168.0.0/24")}}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    logs_.clear();
    AgentState desired;
    desired.forwardings.applied = c.desired;
    desired.routes.applied = routes({"10.9.0.0/16"});
    auto& network = join(kNetworkA, desired);
    network.current_state.forwardings.error = "stale";
    apply(kNetworkA);

    EXPECT_EQ(network.current_state.routes, desired.routes);
    EXPECT_EQ(count(logs_, log::Level::trace, kRouterLine), 1u);
    if (c.gateway) {
      EXPECT_EQ(network.current_state.forwardings.applied, std::nullopt);
      EXPECT_EQ(network.current_state.forwardings.error, std::string(router::kGatewayNotSupported));
      EXPECT_EQ(
          logs_.texts(log::Level::warn),
          std::vector<std::string>{"We're configured as a gateway. Forwarding is not supported on this platform."});
    } else {
      EXPECT_EQ(network.current_state.forwardings, desired.forwardings);
      EXPECT_TRUE(logs_.texts(log::Level::warn).empty());
    }
  }
}

TEST_F(ApplyDesiredState, AccessRulesAreRebuiltWhenValueOrErrorTextDiffers) {
  const auto list = rules({rule(Direction::IN, "10.0.0.2/32", "10.0.0.1/32", peer_key())});
  struct Case {
    const char* name;
    std::optional<std::string> current_error;
    std::optional<std::string> desired_error;
    bool changed;
  };
  const Case cases[] = {
      {"same value and error", "bad rule", "bad rule", false},
      {"same value, no errors", std::nullopt, std::nullopt, false},
      {"error text differs", "bad rule", "other rule", true},
      {"error text appears", std::nullopt, "bad rule", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AgentState desired;
    desired.access_rules = {list, c.desired_error};
    auto& network = join(kNetworkA, desired);
    network.current_state.access_rules = {list, c.current_error};
    const auto tries_before = inner_->rx_trie.load();
    logs_.clear();
    apply(kNetworkA);

    EXPECT_EQ(network.current_state.access_rules, desired.access_rules);
    EXPECT_EQ(count(logs_, log::Level::trace, "Rebuild tries"), c.changed ? 1u : 0u);
    EXPECT_EQ(inner_->rx_trie.load() != tries_before, c.changed);
    const auto current = network::AppliedStatus<EffectiveAccessRuleList>{list, c.current_error};
    const std::string change_line =
        "Access rules change: current=\n" + display(current) + "; desired=\n" + display(desired.access_rules);
    EXPECT_EQ(logs_.has(log::Level::trace, change_line), c.changed);
  }
}

TEST_F(ApplyDesiredState, HostnameMismatchRebuildsTheCatalogueOnceForAllNetworks) {
  AgentState a;
  a.hostnames.applied = hostnames({{"10.1.0.1", "alpha"}});
  AgentState b;
  b.hostnames.applied = hostnames({{"10.2.0.1", "beta"}});
  join(kNetworkA, a);
  join(kNetworkB, b, /*disabled=*/true);  // disabled networks take part in the names all the same

  // Only the first difference in map order is logged.
  const auto& first = networks().begin()->second;
  const std::string mismatch = "DNS hostnames mismatch: current=" + debug(first.current_state.hostnames) +
                               " desired=" + debug(first.desired_state.hostnames);
  apply(kNetworkA);

  EXPECT_EQ(texts_of(logs_, kDnsTarget), (std::vector<std::string>{mismatch, "Update hostnames in DNS"}));
  for (const auto& [key, network] : networks()) {
    EXPECT_EQ(network.current_state.hostnames, network.desired_state.hostnames);
  }
  EXPECT_EQ(resolve("alpha.valdori."), std::vector{addr("10.1.0.1")});
  EXPECT_EQ(resolve("beta.valdori."), std::vector{addr("10.2.0.1")});

  logs_.clear();
  apply(kNetworkB);
  EXPECT_EQ(texts_of(logs_, kDnsTarget), std::vector<std::string>{"All DNS hostnames up to date"});
}

TEST_F(ApplyDesiredState, WithoutDnsResponderTheDnsStepIsSkipped) {
  remake([](AgentConfig& config) { config.dns = DnsConfig{true}; });
  AgentState desired = with_ip("10.1.2.3/24");
  desired.hostnames.applied = hostnames({{"10.1.2.3", "alpha"}});
  auto& network = join(kNetworkA, desired);

  apply(kNetworkA);

  EXPECT_EQ(network.current_state.ip, desired.ip);
  EXPECT_FALSE(network.current_state.hostnames.applied);
  EXPECT_TRUE(texts_of(logs_, kDnsTarget).empty());
  EXPECT_TRUE(texts_of(logs_, "valdori_agent::agent::dns::shared").empty());
}

}  // namespace
}  // namespace valdori::agent::testing
