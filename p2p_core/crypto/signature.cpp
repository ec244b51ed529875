#include "p2p_core/crypto/signature.hpp"

#include <sodium.h>

#include "p2p_core/crypto/sodium.hpp"

namespace valdori::p2p::crypto {

Signature sign_ed25519(const SecKey& sk, std::span<const std::uint8_t> message) {
  ensure_sodium();
  std::array<std::uint8_t, crypto_sign_PUBLICKEYBYTES> ed_pk;
  std::array<std::uint8_t, crypto_sign_SECRETKEYBYTES> ed_sk;
  crypto_sign_seed_keypair(ed_pk.data(), ed_sk.data(), sk.bytes().data());
  Signature signature;
  crypto_sign_detached(signature.data(), nullptr, message.data(), message.size(), ed_sk.data());
  sodium_memzero(ed_sk.data(), ed_sk.size());
  return signature;
}

bool verify_ed25519(const PubKey& pk, std::span<const std::uint8_t> message, const Signature& signature) {
  ensure_sodium();
  return crypto_sign_verify_detached(signature.data(), message.data(), message.size(), pk.bytes().data()) == 0;
}

}  // namespace valdori::p2p::crypto
