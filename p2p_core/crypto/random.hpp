// Cryptographically secure random bytes.
#pragma once

#include <cstdint>
#include <span>

namespace valdori::p2p::crypto {

void random_bytes(std::span<std::uint8_t> out);

}  // namespace valdori::p2p::crypto
