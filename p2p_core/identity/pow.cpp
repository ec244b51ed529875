#include "p2p_core/identity/pow.hpp"

#include <array>
#include <bit>

namespace valdori::p2p {
namespace {

std::uint8_t count_leading_zero_bits(const std::array<std::uint8_t, crypto_hash_sha256_BYTES>& hash) {
  unsigned bits = 0;
  for (std::uint8_t byte : hash) {
    if (byte != 0) return static_cast<std::uint8_t>(bits + static_cast<unsigned>(std::countl_zero(byte)));
    bits += 8;
    if (bits >= 255) return 255;
  }
  return 255;
}

}  // namespace

PowHasher::PowHasher(const PubKey& pk) {
  crypto_hash_sha256_init(&prefix_state_);
  crypto_hash_sha256_update(&prefix_state_, pk.bytes().data(), pk.bytes().size());
}

std::uint8_t PowHasher::leading_zero_bits(Pow pow) const {
  const auto v = static_cast<std::uint32_t>(pow.value());
  const std::array<std::uint8_t, 4> suffix{static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                                           static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
  crypto_hash_sha256_state state = prefix_state_;
  std::array<std::uint8_t, crypto_hash_sha256_BYTES> hash;
  crypto_hash_sha256_update(&state, suffix.data(), suffix.size());
  crypto_hash_sha256_final(&state, hash.data());
  return count_leading_zero_bits(hash);
}

std::uint8_t pow_difficulty(const PubKey& pk, Pow pow) { return PowHasher(pk).leading_zero_bits(pow); }

bool pow_meets_difficulty(const PubKey& pk, Pow pow, std::uint8_t difficulty) {
  return pow_difficulty(pk, pow) >= difficulty;
}

}  // namespace valdori::p2p
