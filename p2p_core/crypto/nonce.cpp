#include "p2p_core/crypto/nonce.hpp"

#include <pthread.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <limits>

#include "p2p_core/crypto/sodium.hpp"

namespace valdori::p2p::crypto {
namespace {

constexpr std::size_t kPrefixLen = 16;

// A forked child inherits every thread's state; bumping the generation makes it draw new prefixes.
std::atomic<std::uint64_t> fork_generation{0};

void after_fork_in_child() { fork_generation.fetch_add(1, std::memory_order_relaxed); }

struct NonceState {
  std::array<std::uint8_t, kPrefixLen> prefix{};
  std::uint64_t counter = 0;
  std::uint64_t generation = std::numeric_limits<std::uint64_t>::max();  // none drawn yet
};

thread_local NonceState state;

}  // namespace

void unique_nonce(std::span<std::uint8_t, kNonceLen> out) {
  static const bool fork_handler_installed = pthread_atfork(nullptr, nullptr, after_fork_in_child) == 0;
  const std::uint64_t generation = fork_generation.load(std::memory_order_relaxed);
  if (state.generation != generation || !fork_handler_installed) {
    random_bytes(state.prefix);
    state.counter = 0;
    state.generation = generation;
  }
  std::ranges::copy(state.prefix, out.begin());
  std::uint64_t counter = state.counter++;
  for (std::size_t i = kNonceLen; i-- > kPrefixLen;) {
    out[i] = static_cast<std::uint8_t>(counter);
    counter >>= 8;
  }
  // After 2^64 nonces the counter would repeat: draw a new prefix instead.
  if (state.counter == 0) state.generation = std::numeric_limits<std::uint64_t>::max();
}

}  // namespace valdori::p2p::crypto
