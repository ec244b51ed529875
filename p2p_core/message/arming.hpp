// Arming: XChaCha20-Poly1305 (IETF) sealing of a message body under a session key, in place.
// An armed region is the 24-byte nonce (never repeated, crypto/nonce.hpp), the ciphertext and the
// 16-byte tag; associated data binds the body to the header it travels under.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include <boost/system/result.hpp>

#include "p2p_core/crypto/session_keys.hpp"
#include "p2p_core/message/error.hpp"

namespace valdori::p2p::message {

inline constexpr std::size_t kArmNonceLen = 24;
inline constexpr std::size_t kArmTagLen = 16;
inline constexpr std::size_t kArmOverhead = kArmNonceLen + kArmTagLen;

// `region` holds room for the nonce, then the plain body, then room for the tag. Writes a fresh
// nonce and encrypts the body where it lies.
boost::system::result<void, error::Error> arm_in_place(std::span<std::uint8_t> region,
                                                       std::span<const std::uint8_t> associated_data,
                                                       const crypto::SessionKey& key);

// Checks and decrypts an armed region where it lies; returns the plain body inside `region`.
// A wrong key, other associated data or any altered byte gives DecryptFailed.
boost::system::result<std::span<std::uint8_t>, error::Error> disarm_in_place(
    std::span<std::uint8_t> region, std::span<const std::uint8_t> associated_data, const crypto::SessionKey& key);

}  // namespace valdori::p2p::message
