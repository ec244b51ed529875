// The agreements cache keeps what a key gave, failure included, for the keys used last.
#include "p2p_core/peer/agreement_cache.hpp"

#include <gtest/gtest.h>

#include "p2p_core/identity/identity.hpp"

namespace valdori::p2p::peer {
namespace {

const Identity& identity(int n) {
  static const Identity ids[] = {*Identity::generate(1), *Identity::generate(1), *Identity::generate(1),
                                 *Identity::generate(1)};
  return ids[n];
}

TEST(AgreementCache, KeepsKeysAndFailuresOfTheKeysUsedLast) {
  const auto own = *AgreementKeys::from_identity(identity(0));
  AgreementCache cache(own, 2);
  const PubKey a = identity(1).pk();
  const PubKey b = identity(2).pk();
  const PubKey unconvertible{};  // the all-zero key is no usable point

  EXPECT_FALSE(cache.find(a));
  const auto agreed = cache.agree(a);
  ASSERT_TRUE(agreed);
  const auto their_keys = *agree(*AgreementKeys::from_identity(identity(1)), identity(0).pk());
  EXPECT_EQ(agreed->rx, their_keys.tx);
  EXPECT_EQ(agreed->tx, their_keys.rx);
  EXPECT_FALSE(cache.agree(unconvertible));

  // Full: a, then the failure; using a again makes the failure the one forgotten next.
  ASSERT_TRUE(cache.find(unconvertible));
  EXPECT_FALSE(*cache.find(unconvertible));
  ASSERT_TRUE(cache.find(a));
  EXPECT_EQ((*cache.find(a))->tx, agreed->tx);
  ASSERT_TRUE(cache.agree(b));
  EXPECT_FALSE(cache.find(unconvertible));
  EXPECT_TRUE(cache.find(a));
  EXPECT_TRUE(cache.find(b));
}

}  // namespace
}  // namespace valdori::p2p::peer
