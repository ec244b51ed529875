// The long header: a view of the first 79 bytes of a long-header message (layout.hpp), read in
// place, and its writer.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include <boost/system/result.hpp>

#include "p2p_core/identity/keys.hpp"
#include "p2p_core/message/error.hpp"
#include "p2p_core/message/layout.hpp"

namespace valdori::p2p::message {

struct ParsedLongHeader;

class LongHeader {
 public:
  // Accepts a message of at least 79 bytes with the magic and known flags; every type byte is
  // accepted, so the caller decides what an unknown type means. Returns the header and the body.
  static boost::system::result<ParsedLongHeader, error::Error> parse(std::span<std::uint8_t> message);

  bool armed() const { return (bytes_[kFlagsOffset] & kFlagArmed) != 0; }
  std::uint8_t hop_count() const { return bytes_[kHopCountOffset]; }
  NetworkId network_id() const;
  PubKey recipient() const { return PubKey::from_bytes(bytes_.subspan(kRecipientOffset, kPubKeyBytes)); }
  PubKey sender() const { return PubKey::from_bytes(bytes_.subspan(kSenderOffset, kPubKeyBytes)); }
  Pow pow() const;
  MessageType message_type() const { return MessageType{bytes_[kTypeOffset]}; }

  std::span<const std::uint8_t, kLongHeaderLen> bytes() const { return bytes_; }
  std::array<std::uint8_t, kLongHeaderLen - 1> associated_data() const;

 private:
  explicit LongHeader(std::span<const std::uint8_t, kLongHeaderLen> bytes) : bytes_(bytes) {}

  std::span<const std::uint8_t, kLongHeaderLen> bytes_;
};

struct ParsedLongHeader {
  LongHeader header;
  std::span<std::uint8_t> body;  // everything after the header, armed or plain
};

// The sender-side fields of a header.
struct LongHeaderFields {
  NetworkId network_id;
  PubKey sender;
  Pow pow;
  PubKey recipient;
  MessageType type;
};

// What arming authenticates of a header: every byte but the hop count, which relays change.
std::array<std::uint8_t, kLongHeaderLen - 1> long_header_associated_data(
    std::span<const std::uint8_t, kLongHeaderLen> header);

// Writes a header with hop count 0 into the first 79 bytes of `out`, which must hold them.
void write_long_header(std::span<std::uint8_t, kLongHeaderLen> out, const LongHeaderFields& fields, bool armed);

}  // namespace valdori::p2p::message
