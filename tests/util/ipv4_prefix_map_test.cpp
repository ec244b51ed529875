#include "util/net/ipv4_prefix_map.hpp"

#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace valdori::util::net {
namespace {

Ipv4Net net(const char* text) { return *Ipv4Net::parse(text); }
Ipv4Addr addr(const char* text) { return *parse_ipv4_addr(text); }

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
  EXPECT_EQ(Ipv4PrefixMap<int>::Builder().build().lookup(addr("10.0.0.1")), nullptr);
}

// Random nested networks, with the ends of the address space and the default route among them
// in some rounds: every lookup names what a linear scan finds, at the edges of every network and
// just outside them.
TEST(Ipv4PrefixMap, AgreesWithALinearScan) {
  std::mt19937 rng(7);
  const std::vector<std::vector<const char*>> extras{{}, {"0.0.0.0/32", "255.255.255.255/32"}, {"0.0.0.0/0"}};
  for (const auto& extra : extras) {
    std::vector<Ipv4Net> networks;
    Ipv4PrefixMap<Ipv4Net>::Builder builder;
    for (const char* text : extra) networks.push_back(net(text));
    for (int i = 0; i < 300; ++i) {
      // Few distinct top bits so that networks nest often.
      const std::uint32_t bits = (rng() & 0x0303'0000u) | (rng() & 0x0000'FFFFu) | 0x0A00'0000u;
      networks.push_back(Ipv4Net(Ipv4Addr(bits), static_cast<std::uint8_t>(8 + rng() % 25)).trunc());
    }
    std::erase_if(networks, [&](const Ipv4Net& n) { return !builder.try_emplace(n, n).second; });
    const auto map = std::move(builder).build();

    std::vector<std::uint32_t> probes{0, 1, 0xFFFF'FFFEu, 0xFFFF'FFFFu};
    for (const auto& n : networks) {
      for (std::uint32_t edge : {n.network().to_uint(), n.broadcast().to_uint()}) {
        probes.insert(probes.end(), {edge - 1, edge, edge + 1});
      }
    }
    for (int i = 0; i < 5000; ++i) probes.push_back((rng() & 0x0303'FFFFu) | 0x0A00'0000u);

    for (std::uint32_t a : probes) {
      const Ipv4Net* want = nullptr;
      for (const auto& n : networks) {
        if (n.contains(Ipv4Addr(a)) && (!want || n.prefix_len() > want->prefix_len())) want = &n;
      }
      const Ipv4Net* got = map.lookup(Ipv4Addr(a));
      ASSERT_EQ(got != nullptr, want != nullptr) << Ipv4Addr(a).to_string();
      if (got) {
        ASSERT_EQ(*got, *want) << Ipv4Addr(a).to_string();
      }
    }
  }
}

}  // namespace
}  // namespace valdori::util::net
