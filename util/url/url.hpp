// An absolute URL in normal form, so that two spellings of the same resource compare equal:
// the scheme is lower case; for the special schemes (http, https, ws, wss, ftp, file) the host is
// lower case, a default port is dropped and an empty path becomes "/"; dot segments of a
// hierarchical path are removed. Everything else is kept as written.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include <fmt/format.h>
#include <boost/assert/source_location.hpp>
#include <boost/system/result.hpp>
#include <boost/url/url.hpp>
#include <boost/url/url_view.hpp>

namespace valdori::util {

struct UrlParseError {
  std::string message;
  bool operator==(const UrlParseError&) const = default;
};

// Lets `result::value()` throw on an error, as it does for error codes.
[[noreturn]] void throw_exception_from_error(const UrlParseError& error, const boost::source_location& location);

class Url {
 public:
  static boost::system::result<Url, UrlParseError> parse(std::string_view text);

  // The normal form as text.
  std::string_view as_string() const { return url_.buffer(); }
  // The parts, for callers that need the scheme, host, port, path or query.
  boost::urls::url_view view() const { return url_; }

  bool operator==(const Url& other) const { return as_string() == other.as_string(); }

 private:
  explicit Url(boost::urls::url url) : url_(std::move(url)) {}

  boost::urls::url url_;
};

}  // namespace valdori::util

template <>
struct std::hash<valdori::util::Url> {
  std::size_t operator()(const valdori::util::Url& url) const noexcept {
    return std::hash<std::string_view>{}(url.as_string());
  }
};

template <>
struct fmt::formatter<valdori::util::Url> : fmt::formatter<std::string_view> {
  auto format(const valdori::util::Url& url, fmt::format_context& ctx) const {
    return fmt::formatter<std::string_view>::format(url.as_string(), ctx);
  }
};
