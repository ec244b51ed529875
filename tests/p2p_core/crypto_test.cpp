#include <sodium.h>

#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "p2p_core/crypto/base64.hpp"
#include "p2p_core/crypto/hash.hpp"
#include "p2p_core/crypto/signature.hpp"
#include "tests/p2p_core/message/codec_fixtures.hpp"

namespace valdori::p2p::crypto {
namespace {

using codec_test::hex;
using codec_test::must;
using codec_test::unhex;

std::span<const std::uint8_t> bytes_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The wrappers around the crypto library: one reference vector each proves the arguments reach it
// in the right order.
TEST(CryptoWrappers, MatchReferenceVectors) {
  EXPECT_EQ(hex(sha256(bytes_of("abc"))), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(hex(hmac_sha256(unhex("4a656665"), bytes_of("what do ya want for nothing?"))),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
  const auto sk = must(SecKey::from_str("4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb"));
  auto signature = sign_ed25519(sk, unhex("72"));
  EXPECT_EQ(hex(signature),
            "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11d8c"
            "387b2eaeb4302aeeb00d291612bb0c00");
  EXPECT_TRUE(verify_ed25519(sk.public_key(), unhex("72"), signature));
  EXPECT_FALSE(verify_ed25519(sk.public_key(), unhex("73"), signature));
  EXPECT_FALSE(verify_ed25519(codec_test::kSender, unhex("72"), signature));
}

TEST(Base64, RoundTripsCanonicalTextOfEitherAlphabetOnly) {
  using enum Base64Variant;
  const struct {
    std::string bytes_hex;
    Base64Variant variant;
    std::string text;
  } round_trips[] = {
      {"", Original, ""},         {"66", Original, "Zg=="},          {"666f6f626172", Original, "Zm9vYmFy"},
      {"fbff", Original, "+/8="}, {"fbff", UrlSafeNoPadding, "-_8"}, {"66", UrlSafeNoPadding, "Zg"}};
  for (const auto& c : round_trips) {
    EXPECT_EQ(base64_encode(unhex(c.bytes_hex), c.variant), c.text);
    EXPECT_EQ(base64_decode(c.text, c.variant), unhex(c.bytes_hex)) << c.text;
  }
  const std::pair<std::string, Base64Variant> rejected[] = {{"Zg", Original},           {"Zh==", Original},
                                                            {"Zm9v\n", Original},       {"-_8=", Original},
                                                            {"Zg==", UrlSafeNoPadding}, {"+/8", UrlSafeNoPadding}};
  for (const auto& [text, variant] : rejected) EXPECT_FALSE(base64_decode(text, variant)) << text;
}

TEST(KeyConversion, SecretAndPublicKeyStayAPairAndASmallOrderPointIsRefused) {
  const SecKey sk(SecKey::Bytes{7, 7, 7});
  const auto x_sk = must(convert_ed25519_sk_to_curve25519_sk(sk));
  X25519PubKey from_secret;
  ASSERT_EQ(crypto_scalarmult_base(from_secret.data(), x_sk.data()), 0);
  EXPECT_EQ(from_secret, must(convert_ed25519_pk_to_curve25519_pk(sk.public_key())));
  EXPECT_EQ(convert_ed25519_pk_to_curve25519_pk(PubKey{}).error().kind, error::Error::Kind::DalekError);
}

// Each end's transmit key is the other's receive key; an equal or degenerate peer key gives none.
TEST(SessionKeys, BothEndsAgreeAndDegenerateKeysAreRefused) {
  const auto keys = codec_test::session_key_pair();
  EXPECT_EQ(keys.a.tx, keys.b.rx);
  EXPECT_EQ(keys.a.rx, keys.b.tx);
  EXPECT_NE(keys.a.rx, keys.a.tx);
  const SecKey sk(SecKey::Bytes{1});
  const auto x_sk = must(convert_ed25519_sk_to_curve25519_sk(sk));
  const auto x_pk = must(convert_ed25519_pk_to_curve25519_pk(sk.public_key()));
  EXPECT_EQ(compute_kx_session_keys(x_pk, x_sk, x_pk).error().kind, error::Error::Kind::SessionKeysIdentical);
  EXPECT_EQ(compute_kx_session_keys(x_pk, x_sk, X25519PubKey{}).error().kind, error::Error::Kind::DalekError);
}

}  // namespace
}  // namespace valdori::p2p::crypto
