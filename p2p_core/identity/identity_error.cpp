#include "p2p_core/identity/identity_error.hpp"

#include <fmt/format.h>

#include "p2p_core/identity/pow.hpp"

namespace valdori::p2p {

std::string display(const IdentityError& e) {
  switch (e.kind) {
    case IdentityError::Kind::DifficultyTooHigh:
      return fmt::format("proof-of-work difficulty {} is above the maximum of {}", e.difficulty,
                         kMaxGeneratedPowDifficulty);
  }
  return "unknown identity error";
}

std::string debug(const IdentityError& e) {
  switch (e.kind) {
    case IdentityError::Kind::DifficultyTooHigh: return fmt::format("DifficultyTooHigh({})", e.difficulty);
  }
  return "Unknown";
}

}  // namespace valdori::p2p
