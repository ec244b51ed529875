// What can go wrong when talking to the controller: one value of sixteen kinds, in a fixed order.
// Kinds up to Authentication carry a message, ErrorStatus an HTTP status, the rest nothing.
#pragma once

#include <cstdint>
#include <string>

#include <fmt/format.h>
#include <boost/assert/source_location.hpp>

namespace valdori::controller::error {

enum class Kind : std::uint8_t {
  HttpClient,
  UriParse,
  RequestBuild,
  RequestFailed,
  BodyRead,
  BodyUtf8,
  BodyParse,
  Authentication,
  ErrorStatus,
  Unauthorized,
  Forbidden,
  NotFound,
  InternalServerError,
  BadGateway,
  ServiceUnavailable,
  GatewayTimeout,
};

class Error {
 public:
  Error(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}
  Error() = default;  // only so that `result::error()` can be asked on a success

  // The kind a reply status outside 200-299 stands for (the body is never carried).
  static Error from_status(unsigned status);

  Kind kind() const { return kind_; }
  unsigned status() const { return status_; }
  // "Not found (404)", "Server returned error status 418 I'm a teapot", or the kind's prefix
  // followed by the message.
  std::string to_string() const;
  // The same with the step named once where the message repeats the kind's prefix, as the
  // messages of URI, request and UTF-8 failures do: for texts of our own that carry the error on
  // ("HTTP request failed: connect to ..." rather than the prefix twice).
  std::string summary() const;

  bool operator==(const Error&) const = default;

 private:
  Kind kind_ = Kind::HttpClient;
  std::string message_;
  unsigned status_ = 0;
};

// Lets `result::value()` throw on an error, as it does for error codes.
[[noreturn]] void throw_exception_from_error(const Error& error, const boost::source_location& location);

}  // namespace valdori::controller::error

template <>
struct fmt::formatter<valdori::controller::error::Error> : fmt::formatter<std::string_view> {
  auto format(const valdori::controller::error::Error& e, fmt::format_context& ctx) const {
    return fmt::formatter<std::string_view>::format(e.to_string(), ctx);
  }
};
