#include "util/url/url_record.hpp"

#include <algorithm>
#include <array>
#include <utility>

namespace valdori::util::url {
namespace {

constexpr std::array<std::pair<std::string_view, std::optional<std::uint16_t>>, 6> kSpecialSchemes{{
    {"ftp", 21},
    {"file", std::nullopt},
    {"http", 80},
    {"https", 443},
    {"ws", 80},
    {"wss", 443},
}};

}  // namespace

bool is_special_scheme(std::string_view scheme) {
  return std::ranges::any_of(kSpecialSchemes, [&](const auto& special) { return special.first == scheme; });
}

std::optional<std::uint16_t> default_port(std::string_view scheme) {
  for (const auto& [name, port] : kSpecialSchemes) {
    if (name == scheme) return port;
  }
  return std::nullopt;
}

std::string serialize_path(const UrlRecord& url) {
  if (url.opaque_path) return url.path.front();
  std::string output;
  for (const std::string& segment : url.path) {
    output += '/';
    output += segment;
  }
  return output;
}

std::string serialize(const UrlRecord& url, bool exclude_fragment) {
  std::string output = url.scheme + ":";
  if (url.host) {
    output += "//";
    if (url.includes_credentials()) {
      output += url.username;
      if (!url.password.empty()) (output += ':') += url.password;
      output += '@';
    }
    output += url.host->serialized;
    if (url.port) (output += ':') += std::to_string(*url.port);
  }
  // Without a host, a path beginning with an empty segment would read back as an authority.
  if (!url.host && !url.opaque_path && url.path.size() > 1 && url.path.front().empty()) output += "/.";
  output += serialize_path(url);
  if (url.query) output += "?" + *url.query;
  if (!exclude_fragment && url.fragment) output += "#" + *url.fragment;
  return output;
}

}  // namespace valdori::util::url
