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
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>

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

// The four bytes that open every long-header message.
struct MagicNumber {
  std::array<std::uint8_t, 4> bytes;

  bool operator==(const MagicNumber&) const = default;
};

inline constexpr MagicNumber kMagicNumber{{0x1E, 0x3F, 0x50, 0x01}};

// "MagicNumber([30, 63, 80, 1])".
std::string debug(const MagicNumber& magic);

// The type byte of a long-header message. Any byte value can arrive; only four are known.
struct MessageType {
  std::uint8_t value;

  static const MessageType ACK;
  static const MessageType APP;
  static const MessageType HELLO;
  static const MessageType UNITE;

  bool operator==(const MessageType&) const = default;
};

inline constexpr MessageType MessageType::ACK{0};
inline constexpr MessageType MessageType::APP{1};
inline constexpr MessageType MessageType::HELLO{2};
inline constexpr MessageType MessageType::UNITE{3};

// "MessageType(3)".
std::string debug(MessageType type);

// Unsigned integers in network byte order, read from and written to byte buffers whose length the
// caller has checked.
template <std::unsigned_integral T>
constexpr T load_big_endian(const std::uint8_t* p) {
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) value = static_cast<T>(value << 8 | p[i]);
  return value;
}

template <std::unsigned_integral T>
constexpr void store_big_endian(std::uint8_t* p, T value) {
  for (std::size_t i = sizeof(T); i-- > 0;) {
    p[i] = static_cast<std::uint8_t>(value);
    value = static_cast<T>(value >> 8);
  }
}

}  // namespace valdori::p2p::message
