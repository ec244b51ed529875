// The libsodium base of this layer. libsodium picks its fastest implementations and seeds its
// generator in sodium_init; every entry point of this layer calls ensure_sodium() first, so no
// caller has to remember it.
#pragma once

#include <cstdint>
#include <span>

namespace valdori::p2p::crypto {

// Initialises libsodium on the first call (thread-safe); aborts if it cannot be initialised,
// since no cryptographic operation would be safe then.
void ensure_sodium();

// Cryptographically secure random bytes.
void random_bytes(std::span<std::uint8_t> out);

}  // namespace valdori::p2p::crypto
