#include <gtest/gtest.h>

#include "p2p_core/identity/identity.hpp"
#include "p2p_core/identity/pow.hpp"

namespace valdori::p2p {
namespace {

TEST(Identity, GeneratedMeetsItsDifficultyAndRoundTripsThroughTheSecretKeyText) {
  const auto id = Identity::generate(6);
  ASSERT_TRUE(id) << display(id.error());
  EXPECT_TRUE(pow_meets_difficulty(id->pk(), id->pow(), 6));
  EXPECT_EQ(id->pk(), id->sk().public_key());
  EXPECT_NE(Identity::generate(0)->sk(), id->sk());
  const auto sk = SecKey::from_str(id->sk().to_string());
  ASSERT_TRUE(sk);
  EXPECT_EQ(Identity(*sk, Pow::from(id->pow().value())), *id);
}

TEST(Identity, ImpossibleDifficultyFailsAtOnce) {
  for (const std::uint8_t difficulty : {33, 255})
    EXPECT_EQ(Identity::generate(difficulty).error(), IdentityError::difficulty_too_high(difficulty));
  EXPECT_EQ(display(Identity::generate(33).error()), "proof-of-work difficulty 33 is above the maximum of 32");
}

}  // namespace
}  // namespace valdori::p2p
