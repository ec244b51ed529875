#include "util/url/url.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

#include <boost/throw_exception.hpp>
#include <boost/url/parse.hpp>

namespace valdori::util {
namespace {

struct SpecialScheme {
  std::string_view name;
  std::optional<std::uint16_t> default_port;
};

constexpr std::array<SpecialScheme, 6> kSpecialSchemes{{
    {"ftp", 21},
    {"file", std::nullopt},
    {"http", 80},
    {"https", 443},
    {"ws", 80},
    {"wss", 443},
}};

const SpecialScheme* special_scheme(std::string_view scheme) {
  const auto* it = std::find_if(kSpecialSchemes.begin(), kSpecialSchemes.end(),
                                [&](const SpecialScheme& s) { return s.name == scheme; });
  return it == kSpecialSchemes.end() ? nullptr : it;
}

std::string lower_ascii(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return out;
}

// Resolves "." and ".." segments of an absolute path; ".." never climbs above the root, and a
// path ending in a dot segment keeps its trailing slash.
std::string remove_dot_segments(std::string_view path) {
  std::vector<std::string_view> kept;
  std::size_t start = 1;  // past the leading "/"
  bool ends_in_directory = false;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view segment = path.substr(start, end - start);
    const bool last = end == path.size();
    if (segment == ".") {
      ends_in_directory = last;
    } else if (segment == "..") {
      if (!kept.empty()) kept.pop_back();
      ends_in_directory = last;
    } else {
      kept.push_back(segment);
      ends_in_directory = false;
    }
    start = end + 1;
  }
  std::string out;
  for (const std::string_view segment : kept) {
    out += '/';
    out += segment;
  }
  if (ends_in_directory || out.empty()) out += '/';
  return out;
}

// The port as written, or empty when it is the scheme's default (or empty itself).
boost::system::result<std::string, UrlParseError> normal_port(std::string_view text, const SpecialScheme& scheme) {
  using Result = boost::system::result<std::string, UrlParseError>;
  if (text.empty()) return Result(boost::system::in_place_value);
  std::uint16_t number = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (ec != std::errc{} || end != text.data() + text.size()) return UrlParseError{"port out of range"};
  if (number == scheme.default_port) return Result(boost::system::in_place_value);
  return Result(boost::system::in_place_value, std::to_string(number));  // without leading zeros
}

}  // namespace

void throw_exception_from_error(const UrlParseError& error, const boost::source_location& location) {
  boost::throw_exception(std::invalid_argument(error.message), location);
}

boost::system::result<Url, UrlParseError> Url::parse(std::string_view text) {
  auto parsed = boost::urls::parse_uri(text);
  if (!parsed) {
    if (boost::urls::parse_relative_ref(text)) return UrlParseError{"relative URL without a base"};
    return UrlParseError{"invalid URL: " + parsed.error().message()};
  }
  const boost::urls::url_view& url = *parsed;
  // The parser lets a path follow an authority without a "/" ("https://a:b/" reads as host "a",
  // port "", path "b/"); the normal form would join that path to the host.
  if (url.has_authority() && !url.encoded_path().empty() && !url.encoded_path().starts_with('/'))
    return UrlParseError{"invalid authority"};
  // The normal form is assembled as text: the URL setters of the library add "/." to some paths.
  std::string normal = lower_ascii(url.scheme()) + ":";
  std::string path(url.encoded_path());
  const SpecialScheme* special = special_scheme(lower_ascii(url.scheme()));
  if (url.has_authority()) {
    normal += "//";
    // Empty credentials ("@", ":@", "user:@") are not written; a password of colons is kept.
    std::string userinfo(url.encoded_userinfo());
    if (url.has_password() && url.encoded_password().empty()) userinfo.pop_back();
    if (!userinfo.empty()) normal += userinfo + "@";
    std::string host(url.encoded_host());
    std::string port(url.port());
    if (special) {
      host = lower_ascii(host);
      if (host.empty() && special->name != "file") return UrlParseError{"empty host"};
      if (special->name == "file" && host == "localhost") host.clear();
      auto normalised = normal_port(port, *special);
      if (!normalised) return normalised.error();
      port = std::move(*normalised);
      if (path.empty()) path = "/";
    }
    normal += host;
    if (!port.empty()) normal += ":" + port;
  } else if (special && special->name != "file") {
    return UrlParseError{"empty host"};
  }
  // Without an authority, a path may not come to start with "//".
  if (path.starts_with('/')) {
    std::string resolved = remove_dot_segments(path);
    if (url.has_authority() || !resolved.starts_with("//")) path = std::move(resolved);
  }
  normal += path;
  if (url.has_query()) normal += "?" + std::string(url.encoded_query());
  if (url.has_fragment()) normal += "#" + std::string(url.encoded_fragment());

  auto reparsed = boost::urls::parse_uri(normal);
  if (!reparsed) return UrlParseError{"invalid URL: " + reparsed.error().message()};
  return Url(boost::urls::url(*reparsed));
}

}  // namespace valdori::util
