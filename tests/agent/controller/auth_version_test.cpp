// Authorization endpoints, the signed node-link request and the version order.
#include <gtest/gtest.h>

#include "agent/agent/version_check.hpp"
#include "agent/controller/auth.hpp"
#include "p2p_core/crypto/base64.hpp"
#include "p2p_core/crypto/signature.hpp"
#include "p2p_core/identity/identity.hpp"

namespace valdori::controller::auth {
namespace {

TEST(AuthEndpoints, JoinedUnderTheOrigin) {
  const std::pair<const char*, const char*> cases[] = {
      {"https://auth.example", "https://auth.example/oauth/v2/token"},
      {"https://auth.example/", "https://auth.example/oauth/v2/token"},
      {"https://u@auth.example:8443/base/x?q#f", "https://u@auth.example:8443/oauth/v2/token"},
      {"auth.example//", "auth.example/oauth/v2/token"},
      {"HTTPS://Auth.Example:443", "https://auth.example/oauth/v2/token"},
      {"http://auth.example:80/", "http://auth.example/oauth/v2/token"},
      {"localhost:8080", "localhost:8080/oauth/v2/token"},  // a scheme "localhost" with an opaque path
  };
  for (const auto& [base, expected] : cases) EXPECT_EQ(token_endpoint(base), expected) << base;
  EXPECT_EQ(userinfo_endpoint("https://a.test"), "https://a.test/oidc/v1/userinfo");
  EXPECT_EQ(device_authorization_endpoint("https://a.test"), "https://a.test/oauth/v2/device_authorization");
  EXPECT_EQ((AuthServerError{AuthServerError::Kind::ServerError, 418}.message()), "Server error (418)");
}

TEST(NodeLink, SignsTheFieldsInOrder) {
  const auto generated = p2p::Identity::generate(0);
  ASSERT_TRUE(generated);
  const p2p::Identity& identity = *generated;
  const NodeLinkChallengePayload challenge{"c", "pk", "u", "n", 0, -1, "aud"};
  const auto request = build_link_request(challenge, identity.sk(), std::nullopt);
  EXPECT_EQ(request.signature.algorithm, "Ed25519");
  EXPECT_EQ(request.signature.signature.size(), 86u);
  EXPECT_EQ(request.signature.signature.find_first_of("=+/"), std::string::npos);
  const std::string signed_text = "cpkun0-1aud";
  const auto signature =
      p2p::crypto::base64_decode(request.signature.signature, p2p::crypto::Base64Variant::UrlSafeNoPadding).value();
  p2p::crypto::Signature raw{};
  std::copy(signature.begin(), signature.end(), raw.begin());
  EXPECT_TRUE(p2p::crypto::verify_ed25519(
      identity.pk(), {reinterpret_cast<const std::uint8_t*>(signed_text.data()), signed_text.size()}, raw));
  const auto with_empty = build_link_request(challenge, identity.sk(), "");
  EXPECT_EQ(with_empty.signature.signature, request.signature.signature);
  EXPECT_EQ(with_empty.extra, "");
}

TEST(VersionCheck, NewerByVersionOrderElseByBytes) {
  struct Case {
    const char* first;
    const char* second;
    bool newer;
  };
  const Case cases[] = {
      {"1.2.4", "1.2.3", true},
      {"1.2.3", "1.2.3", false},
      {"1.2.3", "1.2.4", false},
      {"1.10.0", "1.9.0", true},
      {"1.0.0", "1.0.0-rc.1", true},
      {"1.0.0-rc.1", "1.0.0", false},
      {"1.0.0-alpha.10", "1.0.0-alpha.9", true},
      {"1.0.0-alpha.beta", "1.0.0-alpha.1", true},
      {"1.0.0-alpha.1", "1.0.0-alpha", true},
      {"1.2.3+build.5", "1.2.3", true},
      {"1.2.3", "1.2.3+build.5", false},
      {"1.2.3+10", "1.2.3+2", true},
      {"1.2.3+02", "1.2.3+2", true},
      {"v1.10.0", "v1.9.0", false},
      {"1.2.3", "v1.2.3", false},
      {"v1.2.3", "1.2.3", true},
      {"1.2", "1.1.9", true},
      {"01.2.3", "1.2.3", false},
      {"", "1.0.0", false},
      {"1.0.0", "", true},
      {"1.0.0-01", "1.0.0-1", false},  // a leading zero makes it no version: byte order
      {"18446744073709551616.0.0", "2.0.0", false},
      // Numeric pre-release identifiers beyond 64 bits are still numbers: by length, then digits.
      {"1.0.0-99999999999999999999", "1.0.0", false},
      {"1.0.0", "1.0.0-99999999999999999999", true},
      {"1.0.0-100000000000000000000", "1.0.0-99999999999999999999", true},
      {"1.0.0-rc.99999999999999999999", "1.0.0-rc.18446744073709551615", true},
      {"1.0.0-99999999999999999999", "1.0.0-a", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(agent::version_check::is_newer_version(c.first, c.second), c.newer) << c.first << " vs " << c.second;
  }
}

}  // namespace
}  // namespace valdori::controller::auth
