#include <gtest/gtest.h>

#include "p2p_core/identity/identity.hpp"
#include "p2p_core/identity/pow.hpp"

namespace valdori::p2p {
namespace {

class IdentityGenerateTest : public ::testing::TestWithParam<std::uint8_t> {};

TEST_P(IdentityGenerateTest, MeetsDifficultyWithKeyDerivedFromSecret) {
  const std::uint8_t difficulty = GetParam();
  const auto id = Identity::generate(difficulty);
  ASSERT_TRUE(id) << display(id.error());
  EXPECT_TRUE(pow_meets_difficulty(id->pk(), id->pow(), difficulty));
  EXPECT_EQ(id->pk(), id->sk().public_key());
}

INSTANTIATE_TEST_SUITE_P(Difficulties, IdentityGenerateTest, ::testing::Values(0, 4, 8, 10));

TEST(IdentityTest, GeneratedIdentitiesUseFreshKeys) {
  EXPECT_NE(Identity::generate(4)->sk(), Identity::generate(4)->sk());
}

TEST(IdentityTest, RoundTripsThroughTheSecretKeyText) {
  const auto id = Identity::generate(6);
  ASSERT_TRUE(id);
  const auto sk = SecKey::from_str(id->sk().to_string());
  ASSERT_TRUE(sk);
  const Identity back(*sk, Pow::from(id->pow().value()));
  EXPECT_EQ(back, *id);
  EXPECT_EQ(back.pk(), id->pk());
}

TEST(IdentityTest, ImpossibleDifficultyFailsAtOnce) {
  for (std::uint8_t difficulty : {std::uint8_t{33}, std::uint8_t{64}, std::uint8_t{255}}) {
    const auto id = Identity::generate(difficulty);
    ASSERT_FALSE(id);
    EXPECT_EQ(id.error(), IdentityError::difficulty_too_high(difficulty));
  }
  const auto error = Identity::generate(33).error();
  EXPECT_EQ(display(error), "proof-of-work difficulty 33 is above the maximum of 32");
  EXPECT_EQ(debug(error), "DifficultyTooHigh(33)");
}

}  // namespace
}  // namespace valdori::p2p
