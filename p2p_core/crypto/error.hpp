// Errors of the cryptographic layer of the protocol core.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace valdori::p2p::crypto::error {

// Failure to decode hexadecimal text.
struct HexError {
  enum class Kind : std::uint8_t { InvalidLength, InvalidCharacter };
  Kind kind;
  std::uint8_t character = 0;  // the offending byte of InvalidCharacter

  static HexError invalid_length() { return {Kind::InvalidLength}; }
  static HexError invalid_character(std::uint8_t c) { return {Kind::InvalidCharacter, c}; }
  bool operator==(const HexError&) const = default;
};

struct Error {
  enum class Kind : std::uint8_t {
    SessionKeysIdentical,
    DalekError,
    DecryptFailed,
    AEGISConversionError,
    HexError,
    HMACError,
  };
  Kind kind;
  error::HexError hex{};  // payload of Kind::HexError

  static Error from_hex(error::HexError e) { return {Kind::HexError, e}; }
  bool operator==(const Error&) const = default;
};

// Debug forms: "HexError(InvalidCharacter(120))", "DecryptFailed".
std::string debug(const HexError& e);
std::string debug(const Error& e);
// Display forms: one line naming the failure.
std::string display(const HexError& e);
std::string display(const Error& e);

}  // namespace valdori::p2p::crypto::error
