#include <sodium.h>

#include <array>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "codec_fixtures.hpp"
#include "p2p_core/crypto/base64.hpp"
#include "p2p_core/crypto/hash.hpp"
#include "p2p_core/crypto/random.hpp"
#include "p2p_core/crypto/signature.hpp"

namespace valdori::p2p::crypto {
namespace {

using codec_test::hex;
using codec_test::must;
using codec_test::unhex;

std::span<const std::uint8_t> bytes_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(Sha256, MatchesKnownDigests) {
  EXPECT_EQ(hex(sha256({})), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(hex(sha256(bytes_of("abc"))), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

struct HmacCase {
  std::string key_hex;
  std::string message;
  std::string mac_hex;
};

class HmacSha256Test : public testing::TestWithParam<HmacCase> {};

TEST_P(HmacSha256Test, MatchesReferenceVectors) {
  EXPECT_EQ(hex(hmac_sha256(unhex(GetParam().key_hex), bytes_of(GetParam().message))), GetParam().mac_hex);
}

INSTANTIATE_TEST_SUITE_P(Rfc4231, HmacSha256Test,
                         testing::Values(HmacCase{codec_test::repeat("0b", 20), "Hi There",
                                                  "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
                                         HmacCase{"4a656665", "what do ya want for nothing?",
                                                  "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
                                         // A key longer than the hash block is hashed first.
                                         HmacCase{codec_test::repeat("aa", 131),
                                                  "Test Using Larger Than Block-Size Key - Hash Key First",
                                                  "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"}));

SecKey sec_key(std::string_view seed_hex) { return must(SecKey::from_str(seed_hex)); }

TEST(Ed25519, SignsLikeTheReferenceVectors) {
  const auto sk = sec_key("9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60");
  EXPECT_EQ(hex(sign_ed25519(sk, {})),
            "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46b"
            "d25bf5f0595bbe24655141438e7a100b");
  const auto sk2 = sec_key("4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb");
  EXPECT_EQ(hex(sign_ed25519(sk2, unhex("72"))),
            "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11d8c"
            "387b2eaeb4302aeeb00d291612bb0c00");
}

TEST(Ed25519, VerifiesOnlyTheSignedMessageUnderTheSignersKey) {
  const auto sk = sec_key("9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60");
  const auto message = bytes_of("GET /nodes/me/metrics");
  auto signature = sign_ed25519(sk, message);
  EXPECT_TRUE(verify_ed25519(sk.public_key(), message, signature));
  EXPECT_FALSE(verify_ed25519(sk.public_key(), bytes_of("GET /nodes/me/metricz"), signature));
  EXPECT_FALSE(verify_ed25519(codec_test::kSender, message, signature));
  signature[10] ^= 1;
  EXPECT_FALSE(verify_ed25519(sk.public_key(), message, signature));
}

struct Base64Case {
  std::string bytes_hex;
  Base64Variant variant;
  std::string text;
};

class Base64RoundTripTest : public testing::TestWithParam<Base64Case> {};

TEST_P(Base64RoundTripTest, EncodesAndDecodesBack) {
  const auto bytes = unhex(GetParam().bytes_hex);
  EXPECT_EQ(base64_encode(bytes, GetParam().variant), GetParam().text);
  const auto decoded = base64_decode(GetParam().text, GetParam().variant);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(*decoded, bytes);
}

INSTANTIATE_TEST_SUITE_P(Rfc4648, Base64RoundTripTest,
                         testing::Values(Base64Case{"", Base64Variant::Original, ""},
                                         Base64Case{"66", Base64Variant::Original, "Zg=="},
                                         Base64Case{"666f", Base64Variant::Original, "Zm8="},
                                         Base64Case{"666f6f626172", Base64Variant::Original, "Zm9vYmFy"},
                                         Base64Case{"fbff", Base64Variant::Original, "+/8="},
                                         Base64Case{"fbff", Base64Variant::UrlSafeNoPadding, "-_8"},
                                         Base64Case{"66", Base64Variant::UrlSafeNoPadding, "Zg"}));

struct Base64RejectCase {
  std::string text;
  Base64Variant variant;
};

class Base64RejectTest : public testing::TestWithParam<Base64RejectCase> {};

TEST_P(Base64RejectTest, RejectsNonCanonicalText) { EXPECT_FALSE(base64_decode(GetParam().text, GetParam().variant)); }

INSTANTIATE_TEST_SUITE_P(Texts, Base64RejectTest,
                         testing::Values(Base64RejectCase{"Zg", Base64Variant::Original},    // padding missing
                                         Base64RejectCase{"Zg=", Base64Variant::Original},   // padding short
                                         Base64RejectCase{"Zh==", Base64Variant::Original},  // bits after the last byte
                                         Base64RejectCase{"Zm9v\n", Base64Variant::Original},        // white space
                                         Base64RejectCase{"-_8=", Base64Variant::Original},          // other alphabet
                                         Base64RejectCase{"Zg==", Base64Variant::UrlSafeNoPadding},  // padding
                                         Base64RejectCase{"+/8", Base64Variant::UrlSafeNoPadding},   // other alphabet
                                         Base64RejectCase{
                                             "Zh", Base64Variant::UrlSafeNoPadding}));  // bits after the last byte

TEST(KeyConversion, SecretAndPublicKeyStayAPair) {
  const SecKey sk(SecKey::Bytes{7, 7, 7});
  const auto x_sk = must(convert_ed25519_sk_to_curve25519_sk(sk));
  const auto x_pk = must(convert_ed25519_pk_to_curve25519_pk(sk.public_key()));
  X25519PubKey from_secret;
  ASSERT_EQ(crypto_scalarmult_base(from_secret.data(), x_sk.data()), 0);
  EXPECT_EQ(from_secret, x_pk);
}

TEST(KeyConversion, RejectsASmallOrderPoint) {
  const auto converted = convert_ed25519_pk_to_curve25519_pk(PubKey{});
  ASSERT_FALSE(converted);
  EXPECT_EQ(converted.error().kind, error::Error::Kind::DalekError);
}

TEST(SessionKeys, BothEndsAgreeWhateverTheirOrder) {
  const auto keys = codec_test::session_key_pair();
  EXPECT_EQ(keys.a.tx, keys.b.rx);
  EXPECT_EQ(keys.a.rx, keys.b.tx);
  EXPECT_NE(keys.a.rx, keys.a.tx);
}

TEST(SessionKeys, EqualPublicKeysLeaveNoRoleToChoose) {
  const SecKey sk(SecKey::Bytes{1});
  const auto x_sk = must(convert_ed25519_sk_to_curve25519_sk(sk));
  const auto x_pk = must(convert_ed25519_pk_to_curve25519_pk(sk.public_key()));
  const auto keys = compute_kx_session_keys(x_pk, x_sk, x_pk);
  ASSERT_FALSE(keys);
  EXPECT_EQ(keys.error().kind, error::Error::Kind::SessionKeysIdentical);
}

TEST(SessionKeys, RejectsAPeerKeyWithoutSharedSecret) {
  const SecKey sk(SecKey::Bytes{1});
  const auto x_sk = must(convert_ed25519_sk_to_curve25519_sk(sk));
  const auto x_pk = must(convert_ed25519_pk_to_curve25519_pk(sk.public_key()));
  const auto keys = compute_kx_session_keys(x_pk, x_sk, X25519PubKey{});
  ASSERT_FALSE(keys);
  EXPECT_EQ(keys.error().kind, error::Error::Kind::DalekError);
}

TEST(RandomBytes, FillsTheWholeBuffer) {
  std::array<std::uint8_t, 32> first{};
  std::array<std::uint8_t, 32> second{};
  random_bytes(first);
  random_bytes(second);
  EXPECT_NE(first, second);
  EXPECT_NE(first, (std::array<std::uint8_t, 32>{}));
}

}  // namespace
}  // namespace valdori::p2p::crypto
