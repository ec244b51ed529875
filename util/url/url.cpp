#include "util/url/url.hpp"

#include <stdexcept>

#include <boost/throw_exception.hpp>

#include "util/url/basic_url_parser.hpp"

namespace valdori::util {

void throw_exception_from_error(const UrlParseError& error, const boost::source_location& location) {
  boost::throw_exception(std::invalid_argument(error.message), location);
}

boost::system::result<Url, UrlParseError> Url::parse_against(std::string_view text, const url::UrlRecord* base) {
  auto record = url::basic_url_parse(text, base);
  if (!record) return UrlParseError{std::move(record.error().message)};
  return Url(std::move(*record));
}

boost::system::result<Url, UrlParseError> Url::parse(std::string_view text) { return parse_against(text, nullptr); }

boost::system::result<Url, UrlParseError> Url::parse(std::string_view text, const Url& base) {
  return parse_against(text, &base.record_);
}

Url Url::with_credentials(std::string username, std::string password) const {
  if (!record_.host || record_.host->serialized.empty() || record_.scheme == "file") return *this;
  url::UrlRecord record = record_;
  record.username = std::move(username);
  record.password = std::move(password);
  return Url(std::move(record));
}

}  // namespace valdori::util
