#include "p2p_core/crypto/hash.hpp"

#include <sodium.h>

#include "p2p_core/crypto/sodium.hpp"

namespace valdori::p2p::crypto {

Sha256Digest sha256(std::span<const std::uint8_t> data) {
  ensure_sodium();
  Sha256Digest digest;
  crypto_hash_sha256(digest.data(), data.data(), data.size());
  return digest;
}

Sha256Digest hmac_sha256(std::span<const std::uint8_t> key, std::span<const std::uint8_t> message) {
  ensure_sodium();
  crypto_auth_hmacsha256_state state;
  crypto_auth_hmacsha256_init(&state, key.data(), key.size());
  crypto_auth_hmacsha256_update(&state, message.data(), message.size());
  Sha256Digest mac;
  crypto_auth_hmacsha256_final(&state, mac.data());
  sodium_memzero(&state, sizeof state);
  return mac;
}

}  // namespace valdori::p2p::crypto
