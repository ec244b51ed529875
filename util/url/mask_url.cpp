#include "util/url/mask_url.hpp"

#include <algorithm>

namespace valdori::util {

std::string mask_url(std::string_view text) {
  const std::size_t scheme_end = text.find("://");
  if (scheme_end == std::string_view::npos) return std::string(text);
  const std::size_t authority_start = scheme_end + 3;
  const std::size_t authority_end = std::min(text.find_first_of("/?#", authority_start), text.size());
  // The last "@" ends the credentials: an unencoded "@" in a password must not expose its rest.
  const std::size_t at = text.substr(0, authority_end).rfind('@');
  if (at == std::string_view::npos || at < authority_start) return std::string(text);
  std::string masked(text.substr(0, authority_start));
  masked += "****:****";
  masked += text.substr(at);
  return masked;
}

std::string mask_url(const Url& url) { return mask_url(url.as_string()); }

}  // namespace valdori::util
