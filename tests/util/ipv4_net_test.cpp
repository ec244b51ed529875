#include "util/net/ipv4_net.hpp"

#include <gtest/gtest.h>

namespace valdori::util::net {
namespace {

TEST(Ipv4Net, ParsesOnlyWellFormedText) {
  struct Case {
    const char* text;
    bool ok;
  };
  const Case cases[] = {
      {"10.0.0.5/24", true}, {"0.0.0.0/0", true},    {"255.255.255.255/32", true}, {"10.0.0.0/33", false},
      {"10.0.0.0", false},   {"10.0.0.01/8", false}, {"10.0.0.0/08", false},       {"10.0.0.256/8", false},
      {"10.0.0.0/", false},  {" 10.0.0.0/8", false},
  };
  for (const Case& c : cases) EXPECT_EQ(Ipv4Net::parse(c.text).has_value(), c.ok) << c.text;
}

TEST(Ipv4Net, KeepsHostBitsAndDerivesNetworkAndBroadcast) {
  auto n = *Ipv4Net::parse("10.1.2.3/16");
  EXPECT_EQ(n.to_string(), "10.1.2.3/16");
  EXPECT_EQ(n.network().to_string(), "10.1.0.0");
  EXPECT_EQ(n.broadcast().to_string(), "10.1.255.255");
  EXPECT_EQ(n.trunc().to_string(), "10.1.0.0/16");
  EXPECT_EQ(Ipv4Net::parse("0.0.0.0/0")->broadcast().to_string(), "255.255.255.255");
  EXPECT_EQ(Ipv4Net::parse("10.0.0.7/32")->network().to_string(), "10.0.0.7");
}

TEST(Ipv4Net, Containment) {
  auto n = *Ipv4Net::parse("192.168.5.0/24");
  EXPECT_TRUE(n.contains(*parse_ipv4_addr("192.168.5.77")));
  EXPECT_FALSE(n.contains(*parse_ipv4_addr("192.168.6.1")));
  EXPECT_TRUE(n.contains(*Ipv4Net::parse("192.168.5.128/25")));
  EXPECT_FALSE(n.contains(*Ipv4Net::parse("192.168.0.0/16")));
  EXPECT_TRUE(Ipv4Net::parse("0.0.0.0/0")->contains(*parse_ipv4_addr("1.2.3.4")));
}

}  // namespace
}  // namespace valdori::util::net
