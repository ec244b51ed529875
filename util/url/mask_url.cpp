#include "util/url/mask_url.hpp"

#include <algorithm>

#include "util/url/code_points.hpp"

namespace valdori::util {

namespace {

// Where credentials could start in a text: after a leading "scheme://" or "//", else at its
// start.
std::size_t credentials_start(std::string_view text) {
  std::size_t after_scheme = 0;
  if (!text.empty() && url::is_ascii_alpha(text.front())) {
    const auto end =
        std::find_if_not(text.begin() + 1, text.end(), [](char c) { return url::is_scheme_code_point(c); });
    if (end != text.end() && *end == ':') after_scheme = static_cast<std::size_t>(end - text.begin()) + 1;
  }
  return text.substr(after_scheme).starts_with("//") ? after_scheme + 2 : 0;
}

// Where the credentials end is not known from the text, so its last "@" ends what may be
// credentials: an "@" in a password, or one the parser reads as part of a path, must not
// expose the rest.
std::string mask_text(std::string_view text) {
  const std::size_t at = text.rfind('@');
  if (at == std::string_view::npos) return std::string(text);
  const std::size_t start = credentials_start(text);
  std::string masked(text.substr(0, start));
  masked.append(kMask).append(":").append(kMask).append(text.substr(at));
  return masked;
}

}  // namespace

std::string mask_url(const Url& url) {
  if (!url.includes_credentials()) return mask_text(url.as_string());
  return mask_text(url.with_credentials(std::string(kMask), std::string(kMask)).as_string());
}

std::string mask_url(std::string_view text) {
  const auto url = Url::parse(text);
  if (url && url->includes_credentials()) return mask_url(*url);
  return mask_text(text);
}

}  // namespace valdori::util
