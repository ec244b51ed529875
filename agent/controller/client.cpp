#include "agent/controller/client.hpp"

#include <chrono>

#include "agent/controller/auth.hpp"
#include "agent/network/config/network_config_reader.hpp"
#include "agent/toml/document.hpp"
#include "p2p_core/crypto/base64.hpp"
#include "p2p_core/crypto/hash.hpp"
#include "p2p_core/crypto/hex.hpp"
#include "util/log/log.hpp"
#include "util/text/debug_string.hpp"
#include "util/text/utf8.hpp"
#include "util/url/mask_url.hpp"

// GCC 12 takes the results the coroutines here carry for uninitialised reads (a false positive:
// every result is constructed before it is read).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace valdori::controller {
namespace {

namespace asio = boost::asio;
using error::Error;
using error::Kind;

// Bytes of a reply body its TRACE line shows: a whole reply of the usual kind, not a flood.
constexpr std::size_t kShownBodyWidth = 4096;

spdlog::logger& client_logger() { return log::module_logger<"valdori_agent::controller::client">(); }

std::span<const std::uint8_t> bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// A header value must not end the header line early.
bool valid_header_value(std::string_view value) {
  return std::ranges::none_of(value, [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
}

}  // namespace

std::shared_ptr<http::HttpClient> ControllerClient::create_client(asio::any_io_executor executor) {
  return std::make_shared<http::HttpClient>(std::move(executor));
}

std::shared_ptr<http::HttpClient> auth::create_auth_client(asio::any_io_executor executor) {
  return ControllerClient::create_client(std::move(executor));
}

Result<std::string> ControllerClient::build_hmac_auth_header(std::string_view shared_secret, std::int64_t ts,
                                                             std::string_view body) {
  const auto key = p2p::crypto::base64_decode(shared_secret, p2p::crypto::Base64Variant::UrlSafeNoPadding);
  if (!key) {
    return Error(Kind::Authentication, "the controller shared secret is not URL-safe base64 without padding");
  }
  const std::string stamp = std::to_string(ts);
  const auto digest = p2p::crypto::sha256(bytes(body));
  std::string message = stamp;
  message.append(reinterpret_cast<const char*>(digest.data()), digest.size());
  const auto mac = p2p::crypto::hmac_sha256(*key, bytes(message));
  return "HMAC-Auth " + stamp + ":" + p2p::crypto::hex_encode(mac);
}

asio::awaitable<Result<std::string>> ControllerClient::request(std::string_view method, std::string_view path,
                                                               std::optional<std::string> accept,
                                                               std::string body) const {
  const std::string uri = base_url_ + std::string(path);
  auto url = util::Url::parse(uri);
  if (!url) co_return Error(Kind::UriParse, "Failed to parse URI: " + url.error().message);
  VLOG_TRACE(client_logger(), "Controller API request: {} {}", method, util::mask_url(*url));

  std::string authorization;
  if (const auto* bearer = std::get_if<Bearer>(&auth_)) {
    authorization = "Bearer " + bearer->token;
  } else {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    auto signed_header = build_hmac_auth_header(std::get<Hmac>(auth_).shared_secret,
                                                std::chrono::duration_cast<std::chrono::seconds>(now).count(), body);
    if (!signed_header) co_return signed_header.error();
    authorization = std::move(*signed_header);
  }

  http::Request request{std::string(method), {{"Connection", "close"}, {"Authorization", authorization}}, body};
  if (accept) {
    request.headers.emplace_back("Accept", *accept);
  } else {
    request.headers.emplace_back("Content-Type", "application/json");
  }
  if (public_key_) request.headers.emplace_back("valdori-pk", public_key_->to_string());
  for (const auto& [name, value] : request.headers) {
    if (!valid_header_value(value)) {
      co_return Error(Kind::RequestBuild, "Failed to build request: invalid value of header " + name);
    }
  }

  auto response = co_await http_->send(*url, std::move(request), time_limit_);
  if (!response && response.error().stage == http::Stage::Body) {
    co_return Error(Kind::BodyRead, "Failed to collect response body: " + response.error().message);
  }
  if (!response) co_return Error(Kind::RequestFailed, "HTTP request failed: " + response.error().message);
  auto text = co_await (*response)->read_body();
  if (!text) co_return Error(Kind::BodyRead, "Failed to collect response body: " + text.error().message);
  if (!util::text::is_valid_utf8(*text)) {
    co_return Error(Kind::BodyUtf8, "Failed to parse response body as UTF-8: invalid UTF-8 sequence");
  }
  const unsigned status = (*response)->status();
  VLOG_TRACE(client_logger(), "Controller API response status: {}", http::status_text(status));
  VLOG_TRACE(client_logger(), "Controller API response body: {}", util::text::escape_controls(*text, kShownBodyWidth));
  if (status < 200 || status > 299) co_return Error::from_status(status);
  co_return std::move(*text);
}

asio::awaitable<Result<std::string>> ControllerClient::get(std::string_view path,
                                                           std::optional<std::string> accept) const {
  co_return co_await request("GET", path, std::move(accept), {});
}

asio::awaitable<Result<void>> ControllerClient::put(std::string_view path, std::string json_body) const {
  auto replied = co_await request("PUT", path, std::nullopt, std::move(json_body));
  if (!replied) co_return replied.error();
  co_return Result<void>{};
}

Result<network::config::MultiNetworkConfig> decode_toml_reply(std::string_view body) {
  auto document = network::config::parse_multi_network_config(body);
  if (!document) {
    return Error(Kind::BodyParse, "Failed to parse TOML response: " + agent::toml_doc::render(document.error(), body));
  }
  return std::move(*document);
}

asio::awaitable<Result<network::config::MultiNetworkConfig>> ControllerClient::get_networks_config_toml() const {
  if (!public_key_) {
    co_return Error(Kind::RequestBuild, "get_networks_config_toml requires node public key to be set");
  }
  auto body = co_await get("/nodes/me/networks/config.toml", "application/toml");
  if (!body) co_return body.error();
  co_return decode_toml_reply(*body);
}

asio::awaitable<Result<void>> ControllerClient::upload_metrics(std::string metrics_json) const {
  if (!std::holds_alternative<Hmac>(auth_)) {
    co_return Error(Kind::RequestBuild, "upload_metrics requires HMAC authentication");
  }
  co_return co_await put("/nodes/me/metrics", std::move(metrics_json));
}

}  // namespace valdori::controller

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
