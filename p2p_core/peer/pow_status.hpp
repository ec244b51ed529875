// A node peer's cached proof-of-work verdict.
#pragma once

#include <cstdint>
#include <string_view>

namespace valdori::p2p::peer {

enum class PowStatus : std::uint8_t {
  Unknw = 0,  // not checked yet
  Ok = 1,
  Nok = 2,
};

// "Unknw", "Ok" or "Nok".
std::string_view debug(PowStatus status);

}  // namespace valdori::p2p::peer
