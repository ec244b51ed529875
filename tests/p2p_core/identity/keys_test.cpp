#include <gtest/gtest.h>

#include <string>

#include "p2p_core/identity/keys.hpp"

namespace valdori::p2p {
namespace {

// RFC 8032, test 1: seed and the public key derived from it.
constexpr std::string_view kSeedHex = "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60";
constexpr std::string_view kPubHex = "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a";

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

TEST(KeysTest, PublicKeyIsDerivedFromTheSeedAndTextsAreWrittenLowerCase) {
  const auto sk = SecKey::from_str(upper(kSeedHex));
  ASSERT_TRUE(sk);
  EXPECT_EQ(sk->to_string(), kSeedHex);
  EXPECT_EQ(sk->public_key().to_string(), kPubHex);
  const auto pk = PubKey::from_str(upper(kPubHex));
  ASSERT_TRUE(pk);
  EXPECT_EQ(*pk, sk->public_key());
}

struct BadKeyText {
  std::string text;
  std::string debug;
};

class KeyTextErrorTest : public ::testing::TestWithParam<BadKeyText> {};

TEST_P(KeyTextErrorTest, BothKeyTypesNameTheFault) {
  const auto& [text, expected] = GetParam();
  const auto pk = PubKey::from_str(text);
  const auto sk = SecKey::from_str(text);
  ASSERT_FALSE(pk);
  ASSERT_FALSE(sk);
  EXPECT_EQ(crypto::error::debug(pk.error()), expected);
  EXPECT_EQ(crypto::error::debug(sk.error()), expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, KeyTextErrorTest,
                         ::testing::Values(BadKeyText{"", "HexError(InvalidLength)"},
                                           BadKeyText{std::string(kPubHex.substr(1)), "HexError(InvalidLength)"},
                                           BadKeyText{std::string(kPubHex.substr(0, 63)) + " ",
                                                      "HexError(InvalidCharacter(32))"},
                                           BadKeyText{"\xc3\xa9", "HexError(InvalidCharacter(195))"}));

TEST(KeysTest, UdpPortStaysInItsRangeAtBothEnds) {
  struct Case {
    std::uint8_t b0, b1;
    std::uint16_t port;
  };
  for (const auto& c :
       {Case{0x00, 0x00, 22528}, Case{0xa7, 0xff, 65535}, Case{0xa8, 0x00, 22528}, Case{0xff, 0xff, 45055}}) {
    PubKey::Bytes bytes{};
    bytes[0] = c.b0;
    bytes[1] = c.b1;
    EXPECT_EQ(PubKey(bytes).udp_port(), c.port) << int{c.b0} << "," << int{c.b1};
  }
}

}  // namespace
}  // namespace valdori::p2p
