// The agent's one error type. The kinds and their order are an external contract: the C
// interface reports kind number i as the code -101 - i, so kinds are never reordered, inserted or
// removed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

#include <fmt/format.h>
#include <boost/assert/source_location.hpp>

#include "agent/network/config/config_error.hpp"
#include "p2p_core/identity/identity_error.hpp"

namespace valdori::agent::error {

enum class Kind : std::uint8_t {
  HttpClient,
  HttpUri,
  Hyper,
  Utf8,
  Io,
  Toml,
  Http,
  UrlParse,
  Network,
  Identity,
  Node,
  TomlSerialization,
  ConfigParse,
  NetworkAlreadyExists,
  NetworkNotFound,
  UnsupportedTunCreationPlatform,
};

// Every kind carries the display text of what went wrong (a lower error's text or a URL);
// keeping text rather than the lower error types keeps this type free of their libraries.
class Error {
 public:
  Error(Kind kind, std::string detail) : kind_(kind), detail_(std::move(detail)) {}
  // Only so that `result::error()` can be asked on a success; never reported.
  Error() = default;

  static Error io(const std::error_code& code) { return {Kind::Io, code.message()}; }
  static Error network(const network::config::ConfigError& e) { return {Kind::Network, display(e)}; }
  static Error identity(const p2p::IdentityError& e) { return {Kind::Identity, display(e)}; }
  static Error unsupported_tun_creation_platform() { return {Kind::UnsupportedTunCreationPlatform, {}}; }

  Kind kind() const { return kind_; }
  const std::string& detail() const { return detail_; }
  // The C interface's return code: -101 for the first kind down to -116 for the last.
  std::int32_t code() const { return -101 - static_cast<std::int32_t>(kind_); }
  // The kind's fixed prefix followed directly by the carried text.
  std::string to_string() const;

  bool operator==(const Error&) const = default;

 private:
  Kind kind_ = Kind::HttpClient;
  std::string detail_;
};

// Lets `result::value()` throw on an error, as it does for error codes.
[[noreturn]] void throw_exception_from_error(const Error& error, const boost::source_location& location);

}  // namespace valdori::agent::error

template <>
struct fmt::formatter<valdori::agent::error::Error> : fmt::formatter<std::string_view> {
  auto format(const valdori::agent::error::Error& e, fmt::format_context& ctx) const {
    return fmt::formatter<std::string_view>::format(e.to_string(), ctx);
  }
};
