// The authorization server's endpoints and error kinds, and the signed request that links this
// node to a user's account. No flow of the agent calls them yet; a login flow builds on them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include <boost/asio/any_io_executor.hpp>

#include "p2p_core/identity/keys.hpp"

namespace valdori::http {
class HttpClient;
}

namespace valdori::controller::auth {

// The endpoint under the server's origin, parsed with the base as its base URL: scheme and host
// in lower case, a default port dropped, the base's own path, query and fragment replaced. For a
// base that cannot serve as one ("localhost:8080" has the scheme "localhost" and an opaque path),
// the base without trailing "/" followed by the path.
std::string token_endpoint(std::string_view base);
std::string userinfo_endpoint(std::string_view base);
std::string device_authorization_endpoint(std::string_view base);

struct AuthServerError {
  enum class Kind : std::uint8_t {
    NotFound,
    Unauthorized,
    Forbidden,
    InternalServerError,
    BadGateway,
    ServiceUnavailable,
    GatewayTimeout,
    ServerError
  };
  Kind kind;
  std::uint16_t status = 0;  // of ServerError

  // "Not found (404)", ..., "Server error (418)".
  std::string message() const;
};

// What the controller asks the node to sign to link it to an account.
struct NodeLinkChallengePayload {
  std::string challenge_id;
  std::string node_public_key;
  std::string user_id;
  std::string nonce;
  std::int64_t issued_at = 0;
  std::int64_t expires_at = 0;
  std::string audience;
};

struct NodeLinkSignature {
  std::string algorithm;  // "Ed25519"
  std::string signature;  // URL-safe base64 without padding, 86 characters
};

struct NodeLinkRequest {
  NodeLinkChallengePayload challenge;
  NodeLinkSignature signature;
  std::optional<std::string> extra;
};

// Signs the challenge's fields in order, concatenated without separators (integers in decimal),
// followed by `extra` when present.
NodeLinkRequest build_link_request(NodeLinkChallengePayload challenge, const p2p::SecKey& key,
                                   std::optional<std::string> extra);

// The controller client's HTTP client (ControllerClient::create_client), for the authorization
// server's endpoints.
std::shared_ptr<http::HttpClient> create_auth_client(boost::asio::any_io_executor executor);

}  // namespace valdori::controller::auth
