// Nonces for XChaCha20-Poly1305 that never repeat: a random prefix drawn once per thread, then a
// per-thread counter. Drawing 24 random bytes per message costs a system call (about as much as
// arming a small message); 192-bit nonces need uniqueness, not fresh randomness for each one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace valdori::p2p::crypto {

inline constexpr std::size_t kNonceLen = 24;

// A nonce no other call in this process (or a process forked from it) returns.
void unique_nonce(std::span<std::uint8_t, kNonceLen> out);

}  // namespace valdori::p2p::crypto
