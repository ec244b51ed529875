// The work the super peer's introduction limiter does per relay between a new pair of nodes, with
// `pairs` new pairs every interval (so about that many remembered at once): it should not grow
// with the number of pairs. The clock is the limiter's own argument, advanced by one interval
// over `pairs` relays, so that old pairs expire as new ones come.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

#include "tools/super_peer/server/unite_limiter.hpp"

namespace {

using valdori::p2p::PubKey;
using valdori::super_peer::Clock;
using valdori::super_peer::UniteLimiter;

// A key per number, spread over the first bytes as real keys are.
PubKey key(std::uint64_t n) {
  std::array<std::uint8_t, 32> bytes{};
  const std::uint64_t spread = n * 0x9e3779b97f4a7c15U;
  for (std::size_t i = 0; i < 8; ++i) bytes[i] = static_cast<std::uint8_t>(spread >> (8 * i));
  bytes[8] = static_cast<std::uint8_t>(n);
  return PubKey(bytes);
}

void BM_UniteNewPair(benchmark::State& state) {
  const auto pairs = static_cast<std::uint64_t>(state.range(0));
  const Clock::duration step = UniteLimiter::kInterval / pairs;
  UniteLimiter limiter;
  Clock::time_point now{};
  std::uint64_t n = 0;
  const auto relay_new_pair = [&] {
    now += step;
    ++n;
    return limiter.allow(key(2 * n), key(2 * n + 1), now);
  };
  for (std::uint64_t i = 0; i < pairs; ++i) relay_new_pair();
  for (auto _ : state) benchmark::DoNotOptimize(relay_new_pair());
}

}  // namespace

BENCHMARK(BM_UniteNewPair)->Arg(1'000)->Arg(10'000)->Arg(100'000);

BENCHMARK_MAIN();
