#include "p2p_core/crypto/sodium.hpp"

#include <sodium.h>

#include <cstdlib>

namespace valdori::p2p::crypto {

void ensure_sodium() {
  static const bool initialised = sodium_init() >= 0;
  if (!initialised) std::abort();
}

void random_bytes(std::span<std::uint8_t> out) {
  ensure_sodium();
  randombytes_buf(out.data(), out.size());
}

}  // namespace valdori::p2p::crypto
