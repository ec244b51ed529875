#include "agent/controller/auth.hpp"

#include <array>

#include <fmt/format.h>

#include "p2p_core/crypto/base64.hpp"
#include "p2p_core/crypto/signature.hpp"
#include "util/url/url.hpp"

namespace valdori::controller::auth {
namespace {

std::string endpoint(std::string_view base, std::string_view path) {
  if (auto url = util::Url::parse(base)) {
    if (auto joined = util::Url::parse(path, *url)) return std::string(joined->as_string());
  }
  while (base.ends_with('/')) base.remove_suffix(1);
  return std::string(base) + std::string(path);
}

}  // namespace

std::string token_endpoint(std::string_view base) { return endpoint(base, "/oauth/v2/token"); }
std::string userinfo_endpoint(std::string_view base) { return endpoint(base, "/oidc/v1/userinfo"); }
std::string device_authorization_endpoint(std::string_view base) {
  return endpoint(base, "/oauth/v2/device_authorization");
}

std::string AuthServerError::message() const {
  static constexpr std::array<std::string_view, 7> kMessages = {
      "Not found (404)",   "Unauthorized (401)",        "Forbidden (403)",      "Internal server error (500)",
      "Bad gateway (502)", "Service unavailable (503)", "Gateway timeout (504)"};
  if (kind == Kind::ServerError) return fmt::format("Server error ({})", status);
  return std::string(kMessages.at(static_cast<std::size_t>(kind)));
}

NodeLinkRequest build_link_request(NodeLinkChallengePayload challenge, const p2p::SecKey& key,
                                   std::optional<std::string> extra) {
  const std::string text = challenge.challenge_id + challenge.node_public_key + challenge.user_id + challenge.nonce +
                           std::to_string(challenge.issued_at) + std::to_string(challenge.expires_at) +
                           challenge.audience + extra.value_or("");
  const auto signature =
      p2p::crypto::sign_ed25519(key, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  return {std::move(challenge),
          {"Ed25519", p2p::crypto::base64_encode(signature, p2p::crypto::Base64Variant::UrlSafeNoPadding)},
          std::move(extra)};
}

}  // namespace valdori::controller::auth
