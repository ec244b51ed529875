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

TEST(AppliedStatus, TextForm) {
  struct Case {
    AppliedStatus<Ipv4Net> status;
    const char* display;
  };
  const Case cases[] = {
      {{}, "None"},
      {{std::nullopt, "no address"}, "None (Error: no address)"},
      {{net("10.44.0.1/24"), std::nullopt}, "10.44.0.1/24"},
      {{net("10.44.0.1/24"), "say \"hi\"\n"}, "10.44.0.1/24 (Error: say \"hi\"\n)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(display(c.status), c.display);
  }
  const EffectiveAccessRuleList list = rules_in_order({kOut});
  EXPECT_EQ(display(AppliedStatus<EffectiveAccessRuleList>{list, "rebuild failed"}),
            display(list) + " (Error: rebuild failed)");
}

}  // namespace
}  // namespace valdori::network
