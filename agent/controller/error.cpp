#include "agent/controller/error.hpp"

#include <array>
#include <stdexcept>
#include <string_view>

#include <boost/throw_exception.hpp>

#include "agent/http/http_client.hpp"

namespace valdori::controller::error {

Error Error::from_status(unsigned status) {
  switch (status) {
    case 401: return {Kind::Unauthorized, {}};
    case 403: return {Kind::Forbidden, {}};
    case 404: return {Kind::NotFound, {}};
    case 500: return {Kind::InternalServerError, {}};
    case 502: return {Kind::BadGateway, {}};
    case 503: return {Kind::ServiceUnavailable, {}};
    case 504: return {Kind::GatewayTimeout, {}};
    default: {
      Error error(Kind::ErrorStatus, {});
      error.status_ = status;
      return error;
    }
  }
}

namespace {

constexpr std::array<std::string_view, 16> kTexts = {
    "Failed to build HTTP client: ",
    "Failed to parse URI: ",
    "Failed to build HTTP request: ",
    "HTTP request failed: ",
    "Failed to read response body: ",
    "Failed to parse response body as UTF-8: ",
    "Failed to parse response body as JSON: ",
    "Authentication failed: ",
    "Server returned error status ",
    "Unauthorized (401)",
    "Forbidden (403)",
    "Not found (404)",
    "Internal server error (500)",
    "Bad gateway (502)",
    "Service unavailable (503)",
    "Gateway timeout (504)",
};

}  // namespace

std::string Error::to_string() const {
  const std::string_view text = kTexts.at(static_cast<std::size_t>(kind_));
  if (kind_ == Kind::ErrorStatus) return std::string(text) + http::status_text(status_);
  return std::string(text) + message_;
}

std::string Error::summary() const {
  const std::string_view text = kTexts.at(static_cast<std::size_t>(kind_));
  if (kind_ != Kind::ErrorStatus && !text.empty() && message_.starts_with(text)) return message_;
  return to_string();
}

void throw_exception_from_error(const Error& error, const boost::source_location& location) {
  boost::throw_exception(std::runtime_error(error.to_string()), location);
}

}  // namespace valdori::controller::error
