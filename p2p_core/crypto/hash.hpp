// SHA-256 and HMAC-SHA-256.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace valdori::p2p::crypto {

using Sha256Digest = std::array<std::uint8_t, 32>;

Sha256Digest sha256(std::span<const std::uint8_t> data);
// Keys of any length are accepted (longer ones are hashed first, as HMAC prescribes).
Sha256Digest hmac_sha256(std::span<const std::uint8_t> key, std::span<const std::uint8_t> message);

}  // namespace valdori::p2p::crypto
