#include "agent/agent/error.hpp"

#include <stdexcept>

#include <boost/throw_exception.hpp>

namespace valdori::agent::error {
namespace {

std::string_view prefix(Kind kind) {
  switch (kind) {
    case Kind::HttpClient: return "HTTP client error: ";
    case Kind::HttpUri: return "HTTP URI error: ";
    case Kind::Hyper: return "hyper error: ";
    case Kind::Utf8: return "UTF8 error: ";
    case Kind::Io: return "I/O error: ";
    case Kind::Toml: return "TOML error: ";
    case Kind::Http: return "HTTP error: ";
    case Kind::UrlParse: return "URL parsing error: ";
    case Kind::Network: return "Network error: ";
    case Kind::Identity: return "Identity error: ";
    case Kind::Node: return "Node error: ";
    case Kind::TomlSerialization: return "TOML serialization error: ";
    case Kind::ConfigParse: return "Configuration parse error: ";
    case Kind::NetworkAlreadyExists: return "Network already exists: ";
    case Kind::NetworkNotFound: return "Network not found: ";
    case Kind::UnsupportedTunCreationPlatform: return "Unsupported TUN creation platform";
  }
  return "";
}

}  // namespace

std::string Error::to_string() const {
  std::string text(prefix(kind_));
  // The last kind carries nothing; its text stands alone.
  if (kind_ != Kind::UnsupportedTunCreationPlatform) text += detail_;
  return text;
}

void throw_exception_from_error(const Error& error, const boost::source_location& location) {
  boost::throw_exception(std::runtime_error(error.to_string()), location);
}

}  // namespace valdori::agent::error
