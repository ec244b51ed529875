// A URL as the URL Standard parses it, so that two spellings of the same resource compare equal:
// its serialization ("href") is its identity. Parsing strips surrounding C0 controls and spaces,
// drops tabs and newlines, lower-cases the scheme and a special scheme's host (IDNA), drops a
// default port, resolves dot segments and percent-encodes what each component may not hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <fmt/format.h>
#include <boost/assert/source_location.hpp>
#include <boost/system/result.hpp>

#include "util/url/url_record.hpp"

namespace valdori::util {

struct UrlParseError {
  std::string message;
  bool operator==(const UrlParseError&) const = default;
};

// Lets `result::value()` throw on an error, as it does for error codes.
[[noreturn]] void throw_exception_from_error(const UrlParseError& error, const boost::source_location& location);

class Url {
 public:
  // An absolute URL: a text without a scheme fails.
  static boost::system::result<Url, UrlParseError> parse(std::string_view text);
  // `text` resolved against `base`: relative references ("/a", "?q", "//host", "../b") as well.
  static boost::system::result<Url, UrlParseError> parse(std::string_view text, const Url& base);

  // The serialization.
  std::string_view as_string() const { return href_; }

  std::string_view scheme() const { return record_.scheme; }
  bool is_special() const { return record_.is_special(); }
  // Percent-encoded, as they stand in the URL; empty when absent.
  std::string_view username() const { return record_.username; }
  std::string_view password() const { return record_.password; }
  bool includes_credentials() const { return record_.includes_credentials(); }
  // A copy with this user name and password, given as they are to stand in the URL
  // (percent-encoded); unchanged where the URL cannot have them (no host, an empty one, "file").
  Url with_credentials(std::string username, std::string password) const;
  // Nothing for URLs without an authority ("mailto:x"); an empty host for "file:///x".
  const std::optional<url::Host>& host() const { return record_.host; }
  // Nothing when the URL gives none or gives its scheme's default port.
  std::optional<std::uint16_t> port() const { return record_.port; }
  std::optional<std::uint16_t> port_or_default() const {
    return record_.port ? record_.port : url::default_port(record_.scheme);
  }
  std::string path() const { return url::serialize_path(record_); }
  std::optional<std::string_view> query() const { return record_.query; }
  std::optional<std::string_view> fragment() const { return record_.fragment; }

  bool operator==(const Url& other) const { return href_ == other.href_; }

 private:
  static boost::system::result<Url, UrlParseError> parse_against(std::string_view text, const url::UrlRecord* base);
  explicit Url(url::UrlRecord record) : record_(std::move(record)), href_(url::serialize(record_)) {}

  url::UrlRecord record_;
  std::string href_;
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
