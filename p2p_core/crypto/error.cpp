#include "p2p_core/crypto/error.hpp"

#include <fmt/format.h>

namespace valdori::p2p::crypto::error {

std::string debug(const HexError& e) {
  if (e.kind == HexError::Kind::InvalidLength) return "InvalidLength";
  return fmt::format("InvalidCharacter({})", e.character);
}

std::string debug(const Error& e) {
  switch (e.kind) {
    case Error::Kind::SessionKeysIdentical: return "SessionKeysIdentical";
    case Error::Kind::DalekError: return "DalekError";
    case Error::Kind::DecryptFailed: return "DecryptFailed";
    case Error::Kind::AEGISConversionError: return "AEGISConversionError";
    case Error::Kind::HexError: return fmt::format("HexError({})", debug(e.hex));
    case Error::Kind::HMACError: return "HMACError";
  }
  return "Unknown";
}

std::string display(const HexError& e) {
  if (e.kind == HexError::Kind::InvalidLength) return "Invalid hex string length";
  return fmt::format("Invalid character in hex string: byte {}", e.character);
}

std::string display(const Error& e) {
  switch (e.kind) {
    case Error::Kind::SessionKeysIdentical: return "Session keys are identical";
    case Error::Kind::DalekError: return "Ed25519 key error";
    case Error::Kind::DecryptFailed: return "Decryption failed";
    case Error::Kind::AEGISConversionError: return "AEAD key or nonce conversion failed";
    case Error::Kind::HexError: return fmt::format("Hex error: {}", display(e.hex));
    case Error::Kind::HMACError: return "HMAC error";
  }
  return "Unknown crypto error";
}

}  // namespace valdori::p2p::crypto::error
