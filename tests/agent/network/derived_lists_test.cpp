#include "agent/network/config/derived_lists.hpp"

#include <set>
#include <string>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "agent/network/config/list_text.hpp"
#include "derived_list_samples.hpp"
#include "tests/support/log_capture.hpp"

namespace valdori::network::config {
namespace {

using namespace samples;

constexpr auto OUT = Direction::OUT;
constexpr auto Allow = Action::Allow;
constexpr auto Deny = Action::Deny;

// This node (key 1) and three peers; dev talks to dev only.
const PubKey kMe = key(1);
const NetworkNode kGamma = node(4, "10.0.0.4", "gamma");
const NetworkPolicy kDevToDev{{"dev"}, {"dev"}};

TEST(MatchingPolicy, DecidesWhoMayTalk) {
  struct Case {
    const char* name;
    std::vector<NetworkPolicy> policies;
    PubKey a;
    PubKey b;
    bool expected;
  };
  const Case cases[] = {
      {"no policies", {}, key(1), key(2), false},
      {"a key with itself, even when no node", {}, key(9), key(9), true},
      {"an unknown key", {{{"ALL"}, {"ALL"}}}, key(1), key(9), false},
      {"same groups", {kDevToDev}, key(1), key(2), true},
      {"ALL on both sides admits nodes without groups", {{{"ALL"}, {"ALL"}}}, key(3), key(4), true},
      {"ALL as source, other side must meet", {{{"ALL"}, {"ops"}}}, key(4), key(3), true},
      {"source a, destination b", {{{"dev"}, {"ops"}}}, key(1), key(3), true},
      {"both only in the source group", {{{"dev"}, {"ops"}}}, key(1), key(2), false},
      {"group names are case-sensitive", {{{"Dev"}, {"dev"}}}, key(1), key(2), false},
      {"ALL is a wildcard only when upper-case", {{{"all"}, {"all"}}}, key(1), key(2), false},
  };
  for (const Case& c : cases) {
    const auto cfg = config({kMeNode, kAlpha, kBeta, kGamma}, {}, c.policies);
    EXPECT_EQ(matching_policy(cfg, c.a, c.b), c.expected) << c.name;
  }
  EXPECT_FALSE(matching_policy(config({}), key(1), key(2))) << "no nodes";
}

TEST(DerivedLists, FromADocument) {
  const std::string document = R"(
network = "10.44.0.0/24"
name = "office"

[[node]]
pk = ")" + key(1).to_string() + R"("
ip = "10.44.0.1"
hostname = "laptop"
groups = ["staff"]

[[node]]
pk = ")" + key(2).to_string() + R"("
ip = "10.44.0.2"
hostname = "Gateway"
groups = ["infra"]

[[node]]
pk = ")" + key(3).to_string() + R"("
ip = "10.44.0.3"
hostname = "printer"

[[route]]
dest = "192.168.10.0/24"
gw = ")" + key(2).to_string() + R"("
groups = ["staff"]

[[route]]
dest = "10.50.0.0/16"
gw = ")" + key(3).to_string() + R"("
groups = ["infra"]

[[policy]]
source_groups = ["staff"]
destination_groups = ["infra"]
)";
  auto cfg = NetworkConfig::try_from(document);
  ASSERT_TRUE(cfg.has_value()) << display(cfg.error());

  // The lists in the status report's text form (tests/agent/network/list_text_test.cpp pins its layout).
  const auto rules = effective_access_rule_list(*cfg, kMe);
  ASSERT_TRUE(rules.has_value());
  std::set<std::string> lines;
  for (const auto& [k, rule] : rules->rules) {
    lines.insert(fmt::format("{} {} {} {} {}", rule.direction == OUT ? "OUT" : "IN", rule.source.to_string(),
                             rule.dest.to_string(), rule.pk.bytes()[0], rule.action == Allow ? "ALLOW" : "DENY"));
  }
  EXPECT_EQ(lines,
            (std::set<std::string>{"OUT 10.44.0.1/32 10.44.0.2/32 2 ALLOW", "OUT 10.44.0.1/32 10.44.0.3/32 3 DENY",
                                   "OUT 10.44.0.1/32 10.50.0.0/16 3 DENY", "OUT 10.44.0.1/32 192.168.10.0/24 2 ALLOW",
                                   "IN 10.44.0.2/32 10.44.0.1/32 2 ALLOW", "IN 10.44.0.3/32 10.44.0.1/32 3 DENY",
                                   "IN 10.50.0.0/16 10.44.0.1/32 3 DENY", "IN 192.168.10.0/24 10.44.0.1/32 2 ALLOW"}));
  const auto routing = effective_routing_list(*cfg, kMe);
  ASSERT_TRUE(routing.has_value());
  ASSERT_EQ(routing->routes.size(), 1u);
  EXPECT_EQ(routing->routes.at(net("192.168.10.0/24")).gw, addr("10.44.0.2"));
  EXPECT_TRUE(effective_forwarding_list(*cfg, kMe).destinations.empty());
  EXPECT_EQ(hostnames(*cfg, kMe).hostnames,
            (HostnameList::Map{{addr("10.44.0.1"), "laptop"}, {addr("10.44.0.2"), "Gateway"}}));

  // The gateway's view: it serves its route to staff only; outsiders get Deny rules, not none.
  EffectiveForwardingList served;
  served.destinations.insert(net("192.168.10.0/24"));
  EXPECT_EQ(effective_forwarding_list(*cfg, key(2)), served);
  const auto gateway_rules = effective_access_rule_list(*cfg, key(2));
  ASSERT_TRUE(gateway_rules.has_value());
  EXPECT_EQ(gateway_rules->rules.at({OUT, net("192.168.10.0/24"), net("10.44.0.1/32")}).action, Allow);
  EXPECT_EQ(gateway_rules->rules.at({OUT, net("192.168.10.0/24"), net("10.44.0.3/32")}).action, Deny);
}

TEST(DerivedLists, LoneNodeAndUnknownKey) {
  struct Case {
    const char* name;
    NetworkConfig cfg;
    PubKey own;
    HostnameList::Map names;
  };
  const Case cases[] = {
      {"alone, no routes", config({kMeNode}), kMe, {{addr("10.0.0.1"), "me"}}},
      {"no policies: only itself", config({kMeNode, kAlpha}), kMe, {{addr("10.0.0.1"), "me"}}},
      {"ALL to ALL: everybody",
       config({kMeNode, kGamma}, {}, {{{"ALL"}, {"ALL"}}}),
       kMe,
       {{addr("10.0.0.1"), "me"}, {addr("10.0.0.4"), "gamma"}}},
      // Callers check membership first; a key that is no node still gets empty lists, not a crash.
      {"not a member", config({kMeNode, kAlpha}, {route("10.1.0.0/16", 2)}, {kDevToDev}), key(9), {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hostnames(c.cfg, c.own).hostnames, c.names) << c.name;
    EXPECT_TRUE(effective_routing_list(c.cfg, c.own)->routes.empty()) << c.name;
    EXPECT_TRUE(effective_forwarding_list(c.cfg, c.own).destinations.empty()) << c.name;
  }
  EXPECT_TRUE(effective_access_rule_list(config({kMeNode}), kMe)->rules.empty());
  EXPECT_TRUE(effective_access_rule_list(config({kMeNode, kAlpha}), key(9))->rules.empty());
  const auto without_policies = effective_access_rule_list(config({kMeNode, kAlpha}), kMe);
  ASSERT_EQ(without_policies->rules.size(), 2u);
  for (const auto& [k, rule] : without_policies->rules) {
    EXPECT_EQ(rule.action, Deny) << "without policies every node rule denies";
  }
}

TEST(DerivedLists, FailuresOfUncheckedDocuments) {
  struct Case {
    const char* name;
    NetworkConfig cfg;
    bool rules_fail;                        // with RouteDuplicate
    std::optional<PubKey> missing_gateway;  // routing list fails with GatewayNotFound
  };
  const Case cases[] = {
      {"route via a peer onto that peer's address", config({kMeNode, kAlpha}, {route("10.0.0.2/32", 2)}), true, {}},
      {"route served by me onto my address, with a peer",
       config({kMeNode, kAlpha}, {route("10.0.0.1/32", 1)}),
       true,
       {}},
      {"route served by me onto my address, alone", config({kMeNode}, {route("10.0.0.1/32", 1)}), false, {}},
      {"unknown gateway that lets me in", config({kMeNode}, {route("10.9.0.0/16", 9)}), false, key(9)},
      {"unknown gateway that does not let me in", config({kMeNode}, {route("10.9.0.0/16", 9, {"ops"})}), false, {}},
  };
  for (const Case& c : cases) {
    auto rules = effective_access_rule_list(c.cfg, kMe);
    EXPECT_EQ(rules.has_error(), c.rules_fail) << c.name;
    if (rules.has_error()) {
      EXPECT_EQ(display(rules.error()), "duplicate route") << c.name;
    }

    auto routing = effective_routing_list(c.cfg, kMe);
    EXPECT_EQ(routing.has_error(), c.missing_gateway.has_value()) << c.name;
    if (c.missing_gateway && routing.has_error()) {
      EXPECT_EQ(routing.error(), ConfigError{ConfigError::GatewayNotFound{*c.missing_gateway}}) << c.name;
      EXPECT_EQ(display(routing.error()),
                "0909090909090909090909090909090909090909090909090909090909090909 not found in nodes");
    }
  }
  // The repeated route does not disturb the routing list.
  auto routing = effective_routing_list(config({kMeNode, kAlpha}, {route("10.0.0.2/32", 2)}), kMe);
  ASSERT_TRUE(routing.has_value());
  EXPECT_EQ(routing->routes.at(net("10.0.0.2/32")).gw, addr("10.0.0.2"));
}

TEST(DerivedLists, GroupsAndAddresses) {
  const auto cfg = config({kMeNode, kAlpha, kBeta, kGamma, node(5, "10.0.0.5", "delta", {"ALL", "ops"})},
                          {route("10.1.0.0/16", 2, {"routes-only"})}, {{{"policy-only"}, {"dev"}}});
  GroupMembers expected;
  expected["dev"] = {key(1), key(2)};
  expected["ops"] = {key(3), key(5)};
  expected["ALL"] = {key(5)};
  EXPECT_EQ(groups(cfg), expected);

  EXPECT_EQ(ip(cfg, key(3)), addr("10.0.0.3"));
  EXPECT_EQ(ip(cfg, key(9)), std::nullopt);
}

TEST(DerivedLists, TracesEveryRuleBeforeInsertingIt) {
  testing::LogCapture capture;
  const auto cfg = config({kMeNode, kAlpha}, {route("10.1.0.0/16", 2), route("192.168.5.0/24", 1)}, {kDevToDev});
  ASSERT_TRUE(effective_access_rule_list(cfg, kMe).has_value());

  const auto traces = capture.texts(log::Level::trace);
  ASSERT_EQ(traces.size(), 6u);
  EXPECT_EQ(traces[0],
            "Adding OUT rule for node: EffectiveAccessRule { direction: OUT, source: 10.0.0.1/32, dest: "
            "10.0.0.2/32, pk: " +
                key(2).to_string() + ", action: Allow }");
  EXPECT_EQ(traces[3].rfind("Adding IN rule for node: ", 0), 0u) << "all OUT rules come first";
  for (const char* kind : {"OUT rule for route (non-gateway)", "OUT rule for route (gateway)",
                           "IN rule for route (non-gateway)", "IN rule for route (gateway)"}) {
    EXPECT_TRUE(capture.has_containing(log::Level::trace, std::string("Adding ") + kind + ": ")) << kind;
  }
}

}  // namespace
}  // namespace valdori::network::config
