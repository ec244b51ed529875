// Ed25519 signatures made with a node's identity key.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "p2p_core/identity/keys.hpp"

namespace valdori::p2p::crypto {

using Signature = std::array<std::uint8_t, 64>;

// Deterministic: the same key and message always give the same signature.
Signature sign_ed25519(const SecKey& sk, std::span<const std::uint8_t> message);
bool verify_ed25519(const PubKey& pk, std::span<const std::uint8_t> message, const Signature& signature);

}  // namespace valdori::p2p::crypto
