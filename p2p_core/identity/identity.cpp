#include "p2p_core/identity/identity.hpp"

#include <thread>

#include "p2p_core/identity/pow.hpp"
#include "p2p_core/identity/pow_search.hpp"

namespace valdori::p2p {

Identity::Identity(const SecKey& sk, Pow pow) : sk_(sk), pk_(sk.public_key()), pow_(pow) {}

boost::system::result<Identity, IdentityError> Identity::generate(std::uint8_t difficulty) {
  if (difficulty > kMaxGeneratedPowDifficulty) return IdentityError::difficulty_too_high(difficulty);
  const PowSolution solution = search_pow(difficulty, std::thread::hardware_concurrency());
  return Identity(solution.sk, solution.pow);
}

}  // namespace valdori::p2p
