// The type byte of a long-header message. Any byte value can arrive; only four are known.
#pragma once

#include <cstdint>
#include <string>

namespace valdori::p2p::message {

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

}  // namespace valdori::p2p::message
