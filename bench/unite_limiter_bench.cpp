// The work the super peer's introduction limiter does per relay between a new pair of nodes, with
// `pairs` new pairs every interval (so about that many remembered at once): it should not grow
// with the number of pairs. The clock is the limiter's own argument, advanced by one interval
// over `pairs` relays, so that old pairs expire as new ones come.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <map>

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

// A limiter that has seen `pairs` new pairs over the last interval, and the next new pair.
class NewPairs {
 public:
  explicit NewPairs(std::uint64_t pairs) : step_(UniteLimiter::kInterval / pairs) {
    for (std::uint64_t i = 0; i < pairs; ++i) relay();
  }

  bool relay() {
    now_ += step_;
    ++n_;
    return limiter_.allow(key(2 * n_), key(2 * n_ + 1), now_);
  }

 private:
  Clock::duration step_;
  UniteLimiter limiter_;
  Clock::time_point now_{};
  std::uint64_t n_ = 0;
};

void BM_UniteNewPair(benchmark::State& state) {
  // Filled once per pair count and kept across the runs the library makes to choose the number
  // of iterations: filling costs up to a whole interval's pairs.
  static std::map<std::int64_t, NewPairs> by_count;
  auto& pairs = by_count.try_emplace(state.range(0), static_cast<std::uint64_t>(state.range(0))).first->second;
  for (auto _ : state) benchmark::DoNotOptimize(pairs.relay());
}

}  // namespace

BENCHMARK(BM_UniteNewPair)->Arg(1'000)->Arg(10'000)->Arg(100'000);

BENCHMARK_MAIN();
