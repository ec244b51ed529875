// The URL record of the URL Standard and its serializers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/url/host.hpp"

namespace valdori::util::url {

// ftp, file, http, https, ws and wss.
bool is_special_scheme(std::string_view scheme);
// 21, 80, 443 for the special schemes that have one; nothing for file and all others.
std::optional<std::uint16_t> default_port(std::string_view scheme);

struct UrlRecord {
  std::string scheme;  // lower case, without ":"
  std::string username;
  std::string password;
  std::optional<Host> host;
  std::optional<std::uint16_t> port;  // never the scheme's default port
  // The path segments; with `opaque_path`, exactly one element: the whole path as written
  // ("mailto:x" has the opaque path "x").
  std::vector<std::string> path;
  bool opaque_path = false;
  std::optional<std::string> query;
  std::optional<std::string> fragment;

  bool is_special() const { return is_special_scheme(scheme); }
  bool includes_credentials() const { return !username.empty() || !password.empty(); }
};

// The URL serializer: scheme, "//" and authority when there is a host, path, "?" query and
// (unless excluded) "#" fragment.
std::string serialize(const UrlRecord& url, bool exclude_fragment = false);
// The URL path serializer: the opaque path, or "/" before each segment.
std::string serialize_path(const UrlRecord& url);

}  // namespace valdori::util::url
