// The parallel search for a key and a proof of work that meets a difficulty.
#pragma once

#include <cstdint>

#include "p2p_core/identity/keys.hpp"

namespace valdori::p2p {

struct PowSolution {
  SecKey sk;
  Pow pow;
};

// Runs `workers` searches at once (the calling thread is one of them) and returns as soon as one
// succeeds, after stopping the others. Each search takes fresh random keys and tries every pow of
// a key before moving to the next. Expect about 2^difficulty hashes in total.
PowSolution search_pow(std::uint8_t difficulty, unsigned workers);

}  // namespace valdori::p2p
