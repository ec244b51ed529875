// Wire layout of overlay messages.
//
// Long header (every message that is not short-header application data):
//   0..3   magic 1E 3F 50 01 (the agent recognises overlay control packets by it)
//   4      flags, bit 0: body armed
//   5      hop count, incremented by relays (so it is not authenticated)
//   6..9   network id, big-endian
//   10..41 recipient public key
//   42..73 sender public key
//   74..77 sender's proof of work, big-endian i32
//   78     message type
//   79..   body; armed: 24-byte nonce, ciphertext, 16-byte tag
//
// Short header (application data on a direct path): 4-byte ShortId chosen by the receiver, then
// the payload, armed like a long-header body when the peers hold session keys.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace valdori::p2p::message {

inline constexpr std::size_t kMagicOffset = 0;
inline constexpr std::size_t kFlagsOffset = 4;
inline constexpr std::size_t kHopCountOffset = 5;
inline constexpr std::size_t kNetworkIdOffset = 6;
inline constexpr std::size_t kRecipientOffset = 10;
inline constexpr std::size_t kSenderOffset = 42;
inline constexpr std::size_t kPowOffset = 74;
inline constexpr std::size_t kTypeOffset = 78;
inline constexpr std::size_t kLongHeaderLen = 79;

inline constexpr std::uint8_t kFlagArmed = 0x01;

inline constexpr std::size_t kShortIdLen = 4;

// The largest message a node sends or reads by default; with the arming overhead it leaves
// 1200 - 79 - 40 = 1081 bytes for an armed APP payload, above the 1073-byte tunnel MTU.
inline constexpr std::size_t kDefaultMaxMessageLen = 1200;

using NetworkId = std::array<std::uint8_t, 4>;

}  // namespace valdori::p2p::message
