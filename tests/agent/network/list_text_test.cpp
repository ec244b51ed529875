#include "agent/network/config/list_text.hpp"

#include <gtest/gtest.h>

#include "derived_list_samples.hpp"

namespace valdori::network::config {
namespace {

using namespace samples;

const std::string kKey2 = "0202020202020202020202020202020202020202020202020202020202020202";
const std::string kKey3 = "0303030303030303030303030303030303030303030303030303030303030303";

TEST(ListText, AccessRuleTable) {
  const std::string header = "Type Source             Destination        PubKey" + std::string(58, ' ') + " Action\n";
  struct Case {
    const char* name;
    EffectiveAccessRuleList list;
    std::string text;
  };
  const Case cases[] = {
      {"empty: the header only", {}, header},
      {"OUT before IN, shorter prefix first, cells padded to their widths",
       rules_of({
           {Direction::IN, net("10.0.0.2/32"), net("10.0.0.1/32"), key(2), Action::Allow},
           {Direction::OUT, net("10.0.0.0/16"), net("10.0.0.3/32"), key(3), Action::Deny},
           {Direction::OUT, net("10.0.0.0/8"), net("10.0.0.3/32"), key(3), Action::Allow},
           {Direction::OUT, net("10.0.0.0/8"), net("10.0.0.2/32"), key(2), Action::Allow},
       }),
       header + "OUT  10.0.0.0/8         10.0.0.2/32        " + kKey2 +
           " ALLOW \n"
           "OUT  10.0.0.0/8         10.0.0.3/32        " +
           kKey3 +
           " ALLOW \n"
           "OUT  10.0.0.0/16        10.0.0.3/32        " +
           kKey3 +
           " DENY  \n"
           "IN   10.0.0.2/32        10.0.0.1/32        " +
           kKey2 + " ALLOW \n"},
      {"addresses compare as numbers, not as text",
       rules_of({
           {Direction::IN, net("10.0.0.10/32"), net("10.0.0.1/32"), key(2), Action::Allow},
           {Direction::IN, net("10.0.0.9/32"), net("10.0.0.1/32"), key(3), Action::Allow},
       }),
       header + "IN   10.0.0.9/32        10.0.0.1/32        " + kKey3 +
           " ALLOW \n"
           "IN   10.0.0.10/32       10.0.0.1/32        " +
           kKey2 + " ALLOW \n"},
  };
  for (const Case& c : cases) EXPECT_EQ(display(c.list), c.text) << c.name;
}

TEST(ListText, RoutingTable) {
  EffectiveRoutingList list;
  EXPECT_EQ(display(list), "Destination" + std::string(7, ' ') + " Gateway" + std::string(8, ' ') + "\n");
  for (const char* dest : {"192.168.0.0/16", "10.1.0.0/24", "10.1.0.0/16"}) {
    list.routes.emplace(net(dest), EffectiveRoute{net(dest), addr("10.0.0.2")});
  }
  EXPECT_EQ(display(list),
            "Destination        Gateway        \n"
            "10.1.0.0/16        10.0.0.2       \n"
            "10.1.0.0/24        10.0.0.2       \n"
            "192.168.0.0/16     10.0.0.2       \n");
}

TEST(ListText, HostnameTable) {
  HostnameList list;
  EXPECT_EQ(display(list), "IP" + std::string(13, ' ') + " Hostname\n");
  list.hostnames = {{addr("10.0.0.10"), "Web-01"}, {addr("10.0.0.9"), "db"}};
  EXPECT_EQ(display(list),
            "IP              Hostname\n"
            "10.0.0.9        db.valdori\n"
            "10.0.0.10       Web-01.valdori\n");
}

TEST(ListText, SingleRule) {
  const EffectiveAccessRule rule{Direction::OUT, net("10.0.0.1/32"), net("10.1.0.0/16"), key(2), Action::Allow};
  EXPECT_EQ(display(rule), "direction=OUT source=10.0.0.1/32 dest=10.1.0.0/16 pk=" + kKey2 + " action=Allow\n");
  EXPECT_EQ(debug(rule), "EffectiveAccessRule { direction: OUT, source: 10.0.0.1/32, dest: 10.1.0.0/16, pk: " + kKey2 +
                             ", action: Allow }");
}

}  // namespace
}  // namespace valdori::network::config
