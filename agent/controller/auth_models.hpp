// What the authorization server answers (OAuth 2.0 device authorization, RFC 8628; tokens and
// token errors, RFC 6749; OpenID Connect userinfo), and the JSON forms of its error kinds and of
// the node-link records. Decoded with `json.get<T>()` (agent/json/record.hpp); the node-link
// records also encode.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>

#include "agent/controller/auth.hpp"
#include "agent/json/record.hpp"

namespace valdori::controller::auth {

// RFC 8628, 3.2: the codes a device shows its user while it polls the token endpoint.
struct DeviceAuthorizationResponse {
  std::string device_code;
  std::string user_code;
  std::string verification_uri;
  std::optional<std::string> verification_uri_complete;  // with the user code in it
  std::uint64_t expires_in = 0;                          // seconds
  std::uint64_t interval = 5;                            // seconds between polls; 5 when not given
};

// RFC 6749, 5.1, with OpenID Connect's `id_token`.
struct TokenSuccess {
  std::string access_token;
  std::string token_type;
  std::optional<std::uint64_t> expires_in;  // seconds
  std::optional<std::string> refresh_token;
  std::optional<std::string> scope;
  std::optional<std::string> id_token;
};

// RFC 6749, 5.2. `error` is kept as sent: "invalid_request", "invalid_client", "invalid_grant",
// "unauthorized_client", "unsupported_grant_type", "invalid_scope", and while a device polls
// (RFC 8628, 3.5) "authorization_pending", "slow_down", "access_denied", "expired_token".
struct TokenError {
  std::string error;
  std::optional<std::string> error_description;
  std::optional<std::string> error_uri;
};

// OpenID Connect Core 1.0, 5.3.2: `sub` and the standard claims a login flow shows.
struct UserInfo {
  std::string sub;
  std::optional<std::string> name;
  std::optional<std::string> email;
  std::optional<bool> email_verified;
  std::optional<std::string> preferred_username;
  std::optional<std::string> picture;  // a URL
};

constexpr auto json_record(std::type_identity<DeviceAuthorizationResponse>) {
  using T = DeviceAuthorizationResponse;
  using namespace agent::json_doc;
  return record("DeviceAuthorizationResponse", field("device_code", &T::device_code), field("user_code", &T::user_code),
                field("verification_uri", &T::verification_uri),
                field("verification_uri_complete", &T::verification_uri_complete), field("expires_in", &T::expires_in),
                defaulted("interval", &T::interval));
}

constexpr auto json_record(std::type_identity<TokenSuccess>) {
  using T = TokenSuccess;
  using namespace agent::json_doc;
  return record("TokenSuccess", field("access_token", &T::access_token), field("token_type", &T::token_type),
                field("expires_in", &T::expires_in), field("refresh_token", &T::refresh_token),
                field("scope", &T::scope), field("id_token", &T::id_token));
}

constexpr auto json_record(std::type_identity<TokenError>) {
  using T = TokenError;
  using namespace agent::json_doc;
  return record("TokenError", field("error", &T::error), field("error_description", &T::error_description),
                field("error_uri", &T::error_uri));
}

constexpr auto json_record(std::type_identity<UserInfo>) {
  using T = UserInfo;
  using namespace agent::json_doc;
  return record("UserInfo", field("sub", &T::sub), field("name", &T::name), field("email", &T::email),
                field("email_verified", &T::email_verified), field("preferred_username", &T::preferred_username),
                field("picture", &T::picture));
}

constexpr auto json_record(std::type_identity<NodeLinkChallengePayload>) {
  using T = NodeLinkChallengePayload;
  using namespace agent::json_doc;
  return sent_record("NodeLinkChallengePayload", field("challenge_id", &T::challenge_id),
                     field("node_public_key", &T::node_public_key), field("user_id", &T::user_id),
                     field("nonce", &T::nonce), field("issued_at", &T::issued_at), field("expires_at", &T::expires_at),
                     field("audience", &T::audience));
}

constexpr auto json_record(std::type_identity<NodeLinkSignature>) {
  using T = NodeLinkSignature;
  using namespace agent::json_doc;
  return sent_record("NodeLinkSignature", field("algorithm", &T::algorithm), field("signature", &T::signature));
}

constexpr auto json_record(std::type_identity<NodeLinkRequest>) {
  using T = NodeLinkRequest;
  using namespace agent::json_doc;
  return sent_record("NodeLinkRequest", field("challenge", &T::challenge), field("signature", &T::signature),
                     field("extra", &T::extra));
}

// Externally tagged, by the kind's name: "NotFound", ..., "GatewayTimeout" (or that name over
// null, {"NotFound": null}), and {"ServerError": {"status": 418}}. Anything else is refused as
// "enum AuthServerError"; a bad ServerError body as "struct variant AuthServerError::ServerError".
AuthServerError decode_auth_server_error(const nlohmann::ordered_json& value);

}  // namespace valdori::controller::auth

NLOHMANN_JSON_NAMESPACE_BEGIN
template <>
struct adl_serializer<valdori::controller::auth::AuthServerError> {
  template <class J>
  static void from_json(const J& document, valdori::controller::auth::AuthServerError& error) {
    if constexpr (std::is_same_v<J, ordered_json>) {
      error = valdori::controller::auth::decode_auth_server_error(document);
    } else {
      error = valdori::controller::auth::decode_auth_server_error(ordered_json(document));
    }
  }
};
NLOHMANN_JSON_NAMESPACE_END
