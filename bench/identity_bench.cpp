// Identity generation: whole searches at realistic difficulties, and the per-core hash rate of the
// search loop next to plain one-shot SHA-256 of the same 36 bytes.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstring>

#include <sodium.h>

#include "p2p_core/identity/identity.hpp"
#include "p2p_core/identity/pow.hpp"

namespace {

using valdori::p2p::Identity;
using valdori::p2p::Pow;
using valdori::p2p::PowHasher;
using valdori::p2p::SecKey;

void BM_GenerateIdentity(benchmark::State& state) {
  const auto difficulty = static_cast<std::uint8_t>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(Identity::generate(difficulty));
}
// Search times scatter widely (each try succeeds with probability 2^-difficulty), so few
// iterations give only a rough figure.
BENCHMARK(BM_GenerateIdentity)->Arg(20)->Arg(24)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// The search loop: the key prefix hashed once, one SHA-256 block per pow.
void BM_PowSearchLoop(benchmark::State& state) {
  const PowHasher hasher(SecKey::generate().public_key());
  std::int32_t nonce = 0;
  for (auto _ : state) benchmark::DoNotOptimize(hasher.leading_zero_bits(Pow(nonce++)));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PowSearchLoop);

// The same work as one-shot hashes of key and pow.
void BM_Sha256Of36Bytes(benchmark::State& state) {
  std::array<std::uint8_t, 36> input{};
  const auto pk = SecKey::generate().public_key();
  std::memcpy(input.data(), pk.bytes().data(), pk.bytes().size());
  std::array<std::uint8_t, crypto_hash_sha256_BYTES> hash;
  std::uint32_t nonce = 0;
  for (auto _ : state) {
    ++nonce;
    std::memcpy(input.data() + 32, &nonce, sizeof nonce);
    crypto_hash_sha256(hash.data(), input.data(), input.size());
    benchmark::DoNotOptimize(hash);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Sha256Of36Bytes);

}  // namespace

BENCHMARK_MAIN();
