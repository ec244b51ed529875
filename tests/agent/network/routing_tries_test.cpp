#include "agent/network/config/routing_tries.hpp"

#include <map>
#include <string>

#include <gtest/gtest.h>

#include "agent/network/config/derived_lists.hpp"
#include "derived_list_samples.hpp"
#include "tests/support/log_capture.hpp"

namespace valdori::network::config {
namespace {

using namespace samples;

// outer network -> inner network -> first byte of the peer key
using TrieContents = std::map<std::string, std::map<std::string, int>>;

TrieContents contents(const RoutingTrie& trie) {
  TrieContents out;
  for (const auto& outer : trie.entries()) {
    auto& inner_out = out[outer.net.to_string()];
    for (const auto& inner : outer.value.entries()) inner_out[inner.net.to_string()] = inner.value.bytes()[0];
  }
  return out;
}

EffectiveAccessRuleList rules_for_me(const NetworkConfig& cfg) { return *effective_access_rule_list(cfg, key(1)); }

const NetworkPolicy kEverybody{{"ALL"}, {"ALL"}};

TEST(RoutingTries, HoldAllowedRulesByOuterThenInnerNetwork) {
  struct Case {
    const char* name;
    EffectiveAccessRuleList rules;
    TrieContents outbound;
    TrieContents inbound;
  };
  const Case cases[] = {
      {"empty list", {}, {}, {}},
      {"deny rules only",
       rules_of({{Direction::OUT, net("10.0.0.1/32"), net("10.0.0.2/32"), key(2), Action::Deny},
                 {Direction::IN, net("10.0.0.2/32"), net("10.0.0.1/32"), key(2), Action::Deny}}),
       {},
       {}},
      {"two allowed peers",
       rules_for_me(config({kMeNode, kAlpha, kBeta}, {}, {kEverybody})),
       {{"10.0.0.2/32", {{"10.0.0.1/32", 2}}}, {"10.0.0.3/32", {{"10.0.0.1/32", 3}}}},
       {{"10.0.0.2/32", {{"10.0.0.1/32", 2}}}, {"10.0.0.3/32", {{"10.0.0.1/32", 3}}}}},
      {"route via another node",
       rules_for_me(config({kMeNode, kAlpha}, {route("10.1.0.0/16", 2)})),
       {{"10.1.0.0/16", {{"10.0.0.1/32", 2}}}},
       {{"10.1.0.0/16", {{"10.0.0.1/32", 2}}}}},
      {"route served by this node",
       rules_for_me(config({kMeNode, kAlpha, kBeta}, {route("192.168.5.0/24", 1, {"dev"})}, {{{"dev"}, {"ALL"}}})),
       {{"10.0.0.2/32", {{"10.0.0.1/32", 2}, {"192.168.5.0/24", 2}}}, {"10.0.0.3/32", {{"10.0.0.1/32", 3}}}},
       {{"10.0.0.2/32", {{"10.0.0.1/32", 2}, {"192.168.5.0/24", 2}}}, {"10.0.0.3/32", {{"10.0.0.1/32", 3}}}}},
      {"same destination, two sources",
       rules_of({{Direction::OUT, net("10.0.0.1/32"), net("10.0.0.2/32"), key(2), Action::Allow},
                 {Direction::OUT, net("192.168.5.0/24"), net("10.0.0.2/32"), key(2), Action::Allow}}),
       {{"10.0.0.2/32", {{"10.0.0.1/32", 2}, {"192.168.5.0/24", 2}}}},
       {}},
  };
  for (const Case& c : cases) {
    const auto tries = c.rules.routing_tries();
    EXPECT_EQ(contents(tries.outbound), c.outbound) << c.name;
    EXPECT_EQ(contents(tries.inbound), c.inbound) << c.name;
  }
}

TEST(RoutingTries, LookupTakesTheLongestPrefixAtEachLevel) {
  const auto cfg = config({kMeNode, kAlpha, kBeta, node(4, "10.0.0.4", "gamma")},
                          {route("10.1.0.0/16", 2), route("10.1.2.0/24", 3), route("192.168.5.0/24", 1, {"dev"})},
                          {{{"dev"}, {"dev"}}});
  const auto tries = rules_for_me(cfg).routing_tries();

  struct Case {
    const char* name;
    const RoutingTrie* trie;
    const char* outer;
    const char* inner;
    int peer;  // 0: no peer
  };
  const Case cases[] = {
      {"out to the more specific route", &tries.outbound, "10.1.2.3", "10.0.0.1", 3},
      {"out to an allowed peer", &tries.outbound, "10.0.0.2", "10.0.0.1", 2},
      {"out from the served subnet", &tries.outbound, "10.0.0.2", "192.168.5.77", 2},
      {"out to a denied peer", &tries.outbound, "10.0.0.4", "10.0.0.1", 0},
      {"in from a route", &tries.inbound, "10.1.2.200", "10.0.0.1", 3},
      {"in from a peer into the served subnet", &tries.inbound, "10.0.0.2", "192.168.5.1", 2},
      {"in from a peer outside the route's groups", &tries.inbound, "10.0.0.3", "192.168.5.1", 0},
  };
  for (const Case& c : cases) {
    const PubKey* peer = lookup(*c.trie, addr(c.outer), addr(c.inner));
    EXPECT_EQ(peer ? peer->bytes()[0] : 0, c.peer) << c.name;
  }
}

TEST(RoutingTries, NetworksEqualButForHostBitsKeepOneRuleDeterministically) {
  testing::LogCapture capture;
  // Possible only in unchecked controller documents: two route destinations that mask alike.
  const auto rules = rules_for_me(config({kMeNode, kAlpha, kBeta}, {route("10.8.0.1/16", 2), route("10.8.0.0/16", 3)}));
  const auto tries = rules.routing_tries();
  EXPECT_EQ(contents(tries.outbound)["10.8.0.0/16"], (std::map<std::string, int>{{"10.0.0.1/32", 3}}));
  EXPECT_EQ(contents(tries.inbound)["10.8.0.0/16"], (std::map<std::string, int>{{"10.0.0.1/32", 3}}));
  EXPECT_EQ(capture.texts(log::Level::warn).size(), 2u);
  EXPECT_TRUE(capture.has_containing(log::Level::warn,
                                     "Dropping access rule that repeats the networks of another: "
                                     "EffectiveAccessRule { direction: OUT, source: 10.0.0.1/32, "
                                     "dest: 10.8.0.1/16"));
}

}  // namespace
}  // namespace valdori::network::config
