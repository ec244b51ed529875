// Failure of identity generation.
#pragma once

#include <cstdint>
#include <string>

namespace valdori::p2p {

struct IdentityError {
  enum class Kind : std::uint8_t {
    // The requested proof-of-work difficulty cannot be reached in any reasonable time.
    DifficultyTooHigh,
  };
  Kind kind;
  std::uint8_t difficulty = 0;  // the requested difficulty

  static IdentityError difficulty_too_high(std::uint8_t d) { return {Kind::DifficultyTooHigh, d}; }
  bool operator==(const IdentityError&) const = default;
};

// Display form, e.g. "proof-of-work difficulty 40 is above the maximum of 32".
std::string display(const IdentityError& e);
// Debug form, e.g. "DifficultyTooHigh(40)".
std::string debug(const IdentityError& e);

}  // namespace valdori::p2p
