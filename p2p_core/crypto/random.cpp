#include "p2p_core/crypto/random.hpp"

#include <sodium.h>

#include "p2p_core/crypto/sodium.hpp"

namespace valdori::p2p::crypto {

void random_bytes(std::span<std::uint8_t> out) {
  ensure_sodium();
  randombytes_buf(out.data(), out.size());
}

}  // namespace valdori::p2p::crypto
