#include <gtest/gtest.h>

#include "p2p_core/identity/pow.hpp"
#include "p2p_core/identity/pow_search.hpp"

namespace valdori::p2p {
namespace {

PubKey counting_key(std::uint8_t first) {
  PubKey::Bytes bytes;
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
  return PubKey(bytes);
}

// Golden values computed independently; they pin the byte order of the pow and its sign. The
// neighbours of a proof (the next pow, the same pow with the other sign, another key) fail it.
struct Golden {
  std::uint8_t first_key_byte;
  std::int32_t pow;
  std::uint8_t leading_zero_bits;
};

class PowGoldenTest : public ::testing::TestWithParam<Golden> {};

TEST_P(PowGoldenTest, CountsLeadingZeroBits) {
  const auto& g = GetParam();
  const PubKey pk = counting_key(g.first_key_byte);
  EXPECT_EQ(pow_difficulty(pk, Pow(g.pow)), g.leading_zero_bits);
  EXPECT_TRUE(pow_meets_difficulty(pk, Pow(g.pow), g.leading_zero_bits));
  EXPECT_FALSE(pow_meets_difficulty(pk, Pow(g.pow), static_cast<std::uint8_t>(g.leading_zero_bits + 1)));
}

INSTANTIATE_TEST_SUITE_P(Keys, PowGoldenTest,
                         ::testing::Values(Golden{1, 251764, 16}, Golden{1, 251765, 2}, Golden{1, -291048, 23},
                                           Golden{1, 291048, 5}, Golden{1, -291047, 0}, Golden{1, 0, 0},
                                           Golden{2, 251764, 0}, Golden{2, -291048, 0}));

class PowSearchTest : public ::testing::TestWithParam<unsigned> {};

TEST_P(PowSearchTest, SolutionMeetsTheDifficulty) {
  constexpr std::uint8_t kDifficulty = 10;
  const PowSolution s = search_pow(kDifficulty, GetParam());
  EXPECT_TRUE(pow_meets_difficulty(s.sk.public_key(), s.pow, kDifficulty));
}

// 0 workers must still search (on the calling thread).
INSTANTIATE_TEST_SUITE_P(Workers, PowSearchTest, ::testing::Values(0u, 4u));

}  // namespace
}  // namespace valdori::p2p
