// Longest-prefix lookups of the firewall's tries, as the packet path does them per packet.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "agent/network/config/effective_access_rule_list.hpp"
#include "agent/network/config/routing_tries.hpp"
#include "util/net/ipv4_prefix_map.hpp"

namespace {

using valdori::network::config::Action;
using valdori::network::config::Direction;
using valdori::network::config::EffectiveAccessRule;
using valdori::network::config::EffectiveAccessRuleList;
using valdori::network::config::EffectiveAccessRuleListEntryKey;
using valdori::p2p::PubKey;
using valdori::util::net::Ipv4Addr;
using valdori::util::net::Ipv4Net;
using valdori::util::net::Ipv4PrefixMap;

constexpr std::size_t kProbes = 1 << 16;  // beyond the caches at the largest size

PubKey key_of(std::uint32_t n) {
  PubKey::Bytes bytes{};
  for (int i = 0; i < 4; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(n >> (8 * i));
  return PubKey(bytes);
}

// Networks inside 10.0.0.0/8 with prefix lengths 16..32, most of them peers' /32s as in an
// overlay network; the rest subnets behind gateways.
std::vector<Ipv4Net> networks(std::size_t count, std::mt19937& rng) {
  std::vector<Ipv4Net> out;
  for (std::size_t i = 0; i < count; ++i) {
    const auto len = static_cast<std::uint8_t>(rng() % 4 == 0 ? 16 + rng() % 16 : 32);
    out.push_back(Ipv4Net(Ipv4Addr(0x0A00'0000u | (rng() & 0x00FF'FFFFu)), len).trunc());
  }
  return out;
}

// Addresses inside the networks (hits), one in eight anywhere in 10.0.0.0/8 (mostly misses).
std::vector<Ipv4Addr> probes(const std::vector<Ipv4Net>& nets, std::mt19937& rng) {
  std::vector<Ipv4Addr> out;
  out.reserve(kProbes);
  for (std::size_t i = 0; i < kProbes; ++i) {
    const Ipv4Net& n = nets[rng() % nets.size()];
    const std::uint32_t host = rng() & ~n.netmask_bits();
    out.push_back(rng() % 8 == 0 ? Ipv4Addr(0x0A00'0000u | (rng() & 0x00FF'FFFFu))
                                 : Ipv4Addr(n.network().to_uint() | host));
  }
  return out;
}

void BM_PrefixMapLookup(benchmark::State& state) {
  std::mt19937 rng(1);
  const auto nets = networks(static_cast<std::size_t>(state.range(0)), rng);
  Ipv4PrefixMap<PubKey>::Builder builder;
  for (std::uint32_t i = 0; i < nets.size(); ++i) builder.try_emplace(nets[i], key_of(i));
  const auto map = std::move(builder).build();
  const auto addrs = probes(nets, rng);

  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(map.lookup(addrs[i]));
    i = (i + 1) % kProbes;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["prefixes"] = static_cast<double>(map.size());
}
BENCHMARK(BM_PrefixMapLookup)->Arg(10)->Arg(1000)->Arg(100'000);

// The transmit trie of a node with that many allowed peers and routes: outer by destination,
// inner by this node's /32 (plus a served subnet for every fourth destination).
void BM_TransmitTrieLookup(benchmark::State& state) {
  std::mt19937 rng(2);
  const auto nets = networks(static_cast<std::size_t>(state.range(0)), rng);
  const Ipv4Net me = *Ipv4Net::parse("10.255.255.1/32");
  const Ipv4Net served = *Ipv4Net::parse("192.168.5.0/24");
  EffectiveAccessRuleList list;
  for (std::uint32_t i = 0; i < nets.size(); ++i) {
    for (const Ipv4Net& source : {me, served}) {
      if (source == served && i % 4 != 0) continue;
      const EffectiveAccessRule rule{Direction::OUT, source, nets[i], key_of(i), Action::Allow};
      list.rules.emplace(EffectiveAccessRuleListEntryKey::of(rule), rule);
    }
  }
  const auto tries = list.routing_tries();
  const auto destinations = probes(nets, rng);
  const Ipv4Addr source = me.addr();

  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(valdori::network::config::lookup(tries.outbound, destinations[i], source));
    i = (i + 1) % kProbes;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["outer"] = static_cast<double>(tries.outbound.size());
}
BENCHMARK(BM_TransmitTrieLookup)->Arg(10)->Arg(1000)->Arg(100'000);

}  // namespace

BENCHMARK_MAIN();
