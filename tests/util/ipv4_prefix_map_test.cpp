#include "util/net/ipv4_prefix_map.hpp"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace valdori::util::net {
namespace {

Ipv4Net net(const char* text) { return *Ipv4Net::parse(text); }
Ipv4Addr addr(const char* text) { return *parse_ipv4_addr(text); }

// Each network maps to its own text, so a lookup names the network that matched.
Ipv4PrefixMap<std::string> map_of(const std::vector<const char*>& networks) {
  Ipv4PrefixMap<std::string>::Builder builder;
  for (const char* n : networks) builder.try_emplace(net(n), n);
  return std::move(builder).build();
}

std::string matched(const Ipv4PrefixMap<std::string>& map, const char* address) {
  const std::string* value = map.lookup(addr(address));
  return value ? *value : "none";
}

TEST(Ipv4PrefixMap, LongestPrefixLookup) {
  struct Case {
    const char* name;
    std::vector<const char*> networks;
    std::vector<std::pair<const char*, const char*>> lookups;  // address, expected network
  };
  const Case cases[] = {
      {"empty", {}, {{"0.0.0.0", "none"}, {"10.0.0.1", "none"}, {"255.255.255.255", "none"}}},
      {"nested",
       {"10.0.0.0/8", "10.1.0.0/16", "10.1.2.0/24", "10.1.2.3/32"},
       {{"10.1.2.3", "10.1.2.3/32"},
        {"10.1.2.4", "10.1.2.0/24"},
        {"10.1.2.2", "10.1.2.0/24"},
        {"10.1.3.0", "10.1.0.0/16"},
        {"10.2.0.0", "10.0.0.0/8"},
        {"11.0.0.0", "none"},
        {"9.255.255.255", "none"}}},
      {"adjacent halves under a parent",
       {"10.0.0.0/24", "10.0.0.0/25", "10.0.0.128/25", "10.0.1.0/24"},
       {{"10.0.0.127", "10.0.0.0/25"},
        {"10.0.0.128", "10.0.0.128/25"},
        {"10.0.0.255", "10.0.0.128/25"},
        {"10.0.1.0", "10.0.1.0/24"},
        {"10.0.2.0", "none"}}},
      {"ends of the address space",
       {"0.0.0.0/32", "255.255.255.255/32"},
       {{"0.0.0.0", "0.0.0.0/32"},
        {"0.0.0.1", "none"},
        {"255.255.255.254", "none"},
        {"255.255.255.255", "255.255.255.255/32"}}},
      {"host under the default route at the top",
       {"0.0.0.0/0", "255.255.255.255/32"},
       {{"255.255.255.255", "255.255.255.255/32"}, {"255.255.255.254", "0.0.0.0/0"}}},
  };
  for (const Case& c : cases) {
    const auto map = map_of(c.networks);
    for (const auto& [address, expected] : c.lookups)
      EXPECT_EQ(matched(map, address), expected) << c.name << ": " << address;
  }
}

TEST(Ipv4PrefixMap, KeysAreMaskedAndInsertedOnce) {
  Ipv4PrefixMap<int>::Builder builder;
  EXPECT_TRUE(builder.try_emplace(net("10.0.0.5/24"), 1).second);
  EXPECT_FALSE(builder.try_emplace(net("10.0.0.0/24"), 2).second);
  EXPECT_TRUE(builder.try_emplace(net("10.0.0.0/25"), 3).second);
  const auto map = std::move(builder).build();

  ASSERT_EQ(map.size(), 2u);
  EXPECT_EQ(map.entries()[0].net, net("10.0.0.0/24"));
  EXPECT_EQ(map.entries()[1].net, net("10.0.0.0/25"));
  ASSERT_NE(map.find_exact(net("10.0.0.9/24")), nullptr);
  EXPECT_EQ(*map.find_exact(net("10.0.0.9/24")), 1);
  EXPECT_EQ(map.find_exact(net("10.0.0.0/23")), nullptr);
  EXPECT_EQ(*map.lookup(addr("10.0.0.200")), 1);
}

TEST(Ipv4PrefixMap, AgreesWithALinearScan) {
  std::mt19937 rng(7);
  std::vector<Ipv4Net> networks;
  Ipv4PrefixMap<Ipv4Net>::Builder builder;
  for (int i = 0; i < 300; ++i) {
    // Few distinct top bits so that networks nest often.
    const std::uint32_t bits = (rng() & 0x0303'0000u) | (rng() & 0x0000'FFFFu) | 0x0A00'0000u;
    const auto n = Ipv4Net(Ipv4Addr(bits), static_cast<std::uint8_t>(8 + rng() % 25)).trunc();
    if (builder.try_emplace(n, n).second) networks.push_back(n);
  }
  const auto map = std::move(builder).build();

  auto expected = [&](std::uint32_t a) -> std::optional<Ipv4Net> {
    std::optional<Ipv4Net> best;
    for (const auto& n : networks) {
      if (n.contains(Ipv4Addr(a)) && (!best || n.prefix_len() > best->prefix_len())) best = n;
    }
    return best;
  };
  std::vector<std::uint32_t> probes;
  for (const auto& n : networks) {  // both ends of every network and the addresses just outside
    for (std::uint32_t edge : {n.network().to_uint(), n.broadcast().to_uint()}) {
      probes.insert(probes.end(), {edge - 1, edge, edge + 1});
    }
  }
  for (int i = 0; i < 5000; ++i) probes.push_back((rng() & 0x0303'FFFFu) | 0x0A00'0000u);

  for (std::uint32_t a : probes) {
    const Ipv4Net* got = map.lookup(Ipv4Addr(a));
    const auto want = expected(a);
    ASSERT_EQ(got != nullptr, want.has_value()) << Ipv4Addr(a).to_string();
    if (got) {
      ASSERT_EQ(*got, *want) << Ipv4Addr(a).to_string();
    }
  }
}

}  // namespace
}  // namespace valdori::util::net
