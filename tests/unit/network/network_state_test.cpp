#include <string>

#include <gtest/gtest.h>

#include "agent/network/config/list_text.hpp"
#include "agent/network/network.hpp"

namespace valdori::network {
namespace {

using config::Action;
using config::Direction;
using config::EffectiveAccessRule;
using config::EffectiveAccessRuleList;
using config::EffectiveAccessRuleListEntryKey;
using util::net::Ipv4Net;

Ipv4Net net(const char* text) { return *Ipv4Net::parse(text); }

EffectiveAccessRule rule(Direction direction, const char* source, const char* dest, char key, Action action) {
  return {direction, net(source), net(dest), *p2p::PubKey::from_str(std::string(64, key)), action};
}

EffectiveAccessRuleList rules_in_order(std::initializer_list<EffectiveAccessRule> rules) {
  EffectiveAccessRuleList list;
  for (const EffectiveAccessRule& r : rules) list.rules.emplace(EffectiveAccessRuleListEntryKey::of(r), r);
  return list;
}

const EffectiveAccessRule kOut = rule(Direction::OUT, "10.0.0.1/32", "10.0.0.2/32", 'b', Action::Allow);
const EffectiveAccessRule kIn = rule(Direction::IN, "10.0.0.2/32", "10.0.0.1/32", 'b', Action::Deny);

TEST(AppliedStatus, Equality) {
  using Rules = AppliedStatus<EffectiveAccessRuleList>;
  struct Case {
    const char* name;
    Rules a, b;
    bool equal;
  };
  const Case cases[] = {
      {"both empty", {}, {}, true},
      {"value against none", {rules_in_order({}), std::nullopt}, {}, false},
      {"value against none, same error", {rules_in_order({}), "e"}, {std::nullopt, "e"}, false},
      {"same rules inserted in other orders",
       {rules_in_order({kOut, kIn}), std::nullopt},
       {rules_in_order({kIn, kOut}), std::nullopt},
       true},
      {"different rules", {rules_in_order({kOut}), std::nullopt}, {rules_in_order({kIn}), std::nullopt}, false},
      {"error against none", {rules_in_order({kOut}), "e"}, {rules_in_order({kOut}), std::nullopt}, false},
      {"errors differing in case", {std::nullopt, "Error"}, {std::nullopt, "error"}, false},
      {"same errors", {std::nullopt, "error"}, {std::nullopt, "error"}, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.a == c.b, c.equal) << c.name;
    EXPECT_EQ(c.b == c.a, c.equal) << c.name;
  }
}

TEST(AppliedStatus, TextForm) {
  struct Case {
    AppliedStatus<Ipv4Net> status;
    std::string display;
    std::string debug;
  };
  const Case cases[] = {
      {{}, "None", "AppliedStatus { applied: None, error: None }"},
      {{std::nullopt, "no address"},
       "None (Error: no address)",
       "AppliedStatus { applied: None, error: Some(\"no address\") }"},
      {{net("10.44.0.1/24"), std::nullopt},
       "10.44.0.1/24",
       "AppliedStatus { applied: Some(10.44.0.1/24), error: None }"},
      {{net("10.44.0.1/24"), "say \"hi\"\n"},
       "10.44.0.1/24 (Error: say \"hi\"\n)",
       "AppliedStatus { applied: Some(10.44.0.1/24), error: Some(\"say \\\"hi\\\"\\n\") }"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(display(c.status), c.display);
    EXPECT_EQ(debug(c.status), c.debug);
  }
}

TEST(AppliedStatus, DebugFormWrapsTheListsDebugForm) {
  config::HostnameList hostnames;
  hostnames.hostnames.emplace(*util::net::parse_ipv4_addr("10.44.0.1"), "web");
  const config::EffectiveRoutingList routes;
  EXPECT_EQ(debug(AppliedStatus<config::HostnameList>{hostnames, "x"}),
            "AppliedStatus { applied: Some(" + config::debug(hostnames) + "), error: Some(\"x\") }");
  EXPECT_EQ(debug(AppliedStatus<config::EffectiveRoutingList>{routes, std::nullopt}),
            "AppliedStatus { applied: Some(" + config::debug(routes) + "), error: None }");
}

TEST(AppliedStatus, AccessRuleTextEmbedsTheTable) {
  const EffectiveAccessRuleList list = rules_in_order({kOut});
  const AppliedStatus<EffectiveAccessRuleList> status{list, "rebuild failed"};
  EXPECT_EQ(display(status), display(list) + " (Error: rebuild failed)");
}

TEST(AgentState, EmptyStatesAreEqualAndEveryItemCounts) {
  const AgentState empty;
  EXPECT_EQ(empty, AgentState{});
  AgentState with_ip;
  with_ip.ip.applied = net("10.44.0.1/24");
  AgentState with_error;
  with_error.forwardings.error = "failed";
  AgentState with_hostnames;
  with_hostnames.hostnames.applied = config::HostnameList{};
  for (const AgentState* changed : {&with_ip, &with_error, &with_hostnames}) {
    EXPECT_NE(*changed, empty);
  }
}

TEST(AgentState, CopiesAreIndependent) {
  AgentState original;
  original.ip = {net("10.44.0.1/24"), std::nullopt};
  original.access_rules = {rules_in_order({kOut}), "stale"};
  original.hostnames.applied = config::HostnameList{};
  original.hostnames.applied->hostnames.emplace(*util::net::parse_ipv4_addr("10.44.0.1"), "web");

  AgentState copy = original;
  EXPECT_EQ(copy, original);
  copy.access_rules.applied->rules.clear();
  copy.access_rules.error->append(" again");
  copy.hostnames.applied->hostnames.begin()->second = "db";
  EXPECT_EQ(original.access_rules.applied->rules.size(), 1u);
  EXPECT_EQ(original.access_rules.error, "stale");
  EXPECT_EQ(original.hostnames.applied->hostnames.begin()->second, "web");
}

TEST(NetworkHealth, DebugForm) {
  struct Case {
    NetworkHealth health;
    std::string debug;
  };
  const Case cases[] = {
      {{NetworkHealth::Initializing{}}, "Initializing"},
      {{NetworkHealth::Disabled{}}, "Disabled"},
      {{NetworkHealth::Ok{}}, "Ok"},
      {{NetworkHealth::Pending{}}, "Pending"},
      {{NetworkHealth::RetrieveConfigError{"Network error: duplicate route"}},
       "RetrieveConfigError(\"Network error: duplicate route\")"},
      {{NetworkHealth::RetrieveConfigError{""}}, "RetrieveConfigError(\"\")"},
      {{NetworkHealth::RetrieveConfigError{"a \"b\"\\\nc\td\x01"}},
       "RetrieveConfigError(\"a \\\"b\\\"\\\\\\nc\\td\\u{1}\")"},
      {{NetworkHealth::NotAMemberError{}}, "NotAMemberError"},
  };
  for (const Case& c : cases) EXPECT_EQ(debug(c.health), c.debug);
}

TEST(NetworkHealth, EqualityComparesTheMessage) {
  const NetworkHealth a{NetworkHealth::RetrieveConfigError{"a"}};
  EXPECT_EQ(a, (NetworkHealth{NetworkHealth::RetrieveConfigError{"a"}}));
  EXPECT_NE(a, (NetworkHealth{NetworkHealth::RetrieveConfigError{"A"}}));
  EXPECT_NE((NetworkHealth{NetworkHealth::Ok{}}), (NetworkHealth{NetworkHealth::Pending{}}));
}

TEST(Network, StartsEnabledUnnamedEmptyAndInitializing) {
  const Network network{"file:///etc/valdori/lab.toml"};
  EXPECT_FALSE(network.disabled);
  EXPECT_FALSE(network.name);
  EXPECT_EQ(network.current_state, AgentState{});
  EXPECT_EQ(network.desired_state, AgentState{});
  EXPECT_EQ(network.health, NetworkHealth{NetworkHealth::Initializing{}});
}

}  // namespace
}  // namespace valdori::network
