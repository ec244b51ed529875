// The proof-of-work rule: SHA-256 over the 32 public-key bytes followed by the pow as a big-endian
// signed 32-bit integer must start with at least `difficulty` zero bits.
#pragma once

#include <cstdint>

#include <sodium.h>

#include "p2p_core/identity/keys.hpp"

namespace valdori::p2p {

// The highest difficulty identity generation accepts: a 32-bit pow gives about one proof per key
// at 32 bits, so a search beyond that would run for ever.
inline constexpr std::uint8_t kMaxGeneratedPowDifficulty = 32;

// Number of leading zero bits of the proof-of-work hash, capped at 255.
std::uint8_t pow_difficulty(const PubKey& pk, Pow pow);
bool pow_meets_difficulty(const PubKey& pk, Pow pow, std::uint8_t difficulty);

// Hashes the key prefix once, so that trying many pows for one key costs one SHA-256 block each.
class PowHasher {
 public:
  explicit PowHasher(const PubKey& pk);
  std::uint8_t leading_zero_bits(Pow pow) const;

 private:
  crypto_hash_sha256_state prefix_state_;
};

}  // namespace valdori::p2p
