#include "util/url/mask_url.hpp"

#include <algorithm>
#include <optional>

namespace valdori::util {

namespace {

// The text with everything between "://" and the last "@" of the authority masked; nothing when
// there is no such "@".
std::optional<std::string> mask_authority(std::string_view text) {
  const std::size_t scheme_end = text.find("://");
  if (scheme_end == std::string_view::npos) return std::nullopt;
  const std::size_t authority_start = scheme_end + 3;
  const std::size_t authority_end = std::min(text.find_first_of("/?#", authority_start), text.size());
  // The last "@" ends the credentials: an unencoded "@" in a password must not expose its rest.
  const std::size_t at = text.substr(0, authority_end).rfind('@');
  if (at == std::string_view::npos || at < authority_start) return std::nullopt;
  std::string masked(text.substr(0, authority_start));
  masked += "****:****";
  masked += text.substr(at);
  return masked;
}

}  // namespace

std::string mask_url(std::string_view text) {
  if (auto masked = mask_authority(text)) return std::move(*masked);
  // Special URLs carry credentials without "//" too ("http:user:pw@host"): those are shown in
  // their serialization, which spells the authority out.
  if (auto url = Url::parse(text); url && url->includes_credentials()) return mask_url(*url);
  return std::string(text);
}

std::string mask_url(const Url& url) { return mask_authority(url.as_string()).value_or(std::string(url.as_string())); }

}  // namespace valdori::util
