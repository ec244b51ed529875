// The controller's REST client: signed GET and PUT requests under the controller's base URL. A
// client is made for one call; each request opens and closes its own connection.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include <boost/asio/awaitable.hpp>
#include <boost/system/result.hpp>
#include <nlohmann/json.hpp>

#include "agent/controller/error.hpp"
#include "agent/http/http_client.hpp"
#include "agent/network/config/network_config.hpp"
#include "p2p_core/identity/keys.hpp"
#include "util/text/debug_string.hpp"

namespace valdori::controller {

// How requests prove who sends them.
struct Bearer {
  std::string token;
};
struct Hmac {
  std::string shared_secret;  // URL-safe base64 without padding; decoded, the HMAC key
};
using ControllerAuth = std::variant<Bearer, Hmac>;

// A controller that never answers must not hold up its caller for longer than this.
inline constexpr std::chrono::milliseconds kRequestTimeLimit{10000};

template <class T>
using Result = boost::system::result<T, error::Error>;

class ControllerClient {
 public:
  ControllerClient(std::shared_ptr<http::HttpClient> http, std::string base_url, ControllerAuth auth,
                   std::optional<p2p::PubKey> public_key, std::chrono::milliseconds time_limit = kRequestTimeLimit)
      : http_(std::move(http)),
        base_url_(std::move(base_url)),
        auth_(std::move(auth)),
        public_key_(std::move(public_key)),
        time_limit_(time_limit) {}

  // The HTTP client for controller requests: http and https, servers verified against the
  // built-in web PKI roots. Making it cannot fail.
  static std::shared_ptr<http::HttpClient> create_client(boost::asio::any_io_executor executor);

  // "HMAC-Auth " + ts + ":" + hex HMAC-SHA-256 over the decimal ts followed by the SHA-256 of
  // the body, keyed by the decoded secret. A secret that does not decode fails (Authentication).
  static Result<std::string> build_hmac_auth_header(std::string_view shared_secret, std::int64_t ts,
                                                    std::string_view body);

  // GET base_url + path with an empty body; the body text of a 2xx reply. With `accept` the
  // request carries it, without it "Content-Type: application/json".
  boost::asio::awaitable<Result<std::string>> get(std::string_view path, std::optional<std::string> accept) const;
  // PUT base_url + path with a JSON body (sent exactly as given); the reply body is not used.
  boost::asio::awaitable<Result<void>> put(std::string_view path, std::string json_body) const;

  // The node's networks: GET "/nodes/me/networks/config.toml" as TOML. Needs the public key.
  boost::asio::awaitable<Result<network::config::MultiNetworkConfig>> get_networks_config_toml() const;
  // PUT "/nodes/me/metrics". Needs HMAC authentication.
  boost::asio::awaitable<Result<void>> upload_metrics(std::string metrics_json) const;

 private:
  boost::asio::awaitable<Result<std::string>> request(std::string_view method, std::string_view path,
                                                      std::optional<std::string> accept, std::string body) const;

  std::shared_ptr<http::HttpClient> http_;
  std::string base_url_;
  ControllerAuth auth_;
  std::optional<p2p::PubKey> public_key_;
  std::chrono::milliseconds time_limit_;
};

// The reply of a GET with Accept "application/toml", as the controller's network document.
Result<network::config::MultiNetworkConfig> decode_toml_reply(std::string_view body);
// The reply of a GET without Accept, as a JSON document or as a record of the controller or the
// authorization server (api_models.hpp, auth_models.hpp). (With any other Accept the reply is
// taken as text, as `get` gives it.)
template <class T = nlohmann::ordered_json>
Result<T> decode_json_reply(std::string_view body) {
  try {
    return nlohmann::ordered_json::parse(body).get<T>();
  } catch (const nlohmann::json::exception& e) {  // a record's refusals too
    // The reader's texts quote the reply ("last read: '...'", an unknown variant's name).
    return error::Error(error::Kind::BodyParse,
                        "Failed to parse response as JSON: " + util::text::escape_controls(e.what()));
  }
}

}  // namespace valdori::controller
