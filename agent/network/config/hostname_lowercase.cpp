#include "agent/network/config/hostname_lowercase.hpp"

#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include <unicode/ustring.h>
#include <unicode/utypes.h>

namespace valdori::network::config {
namespace {

constexpr UChar32 kReplacementCharacter = 0xFFFD;

// Runs an ICU conversion twice: once to learn the length it needs, once to fill the buffer.
template <class Out, class Convert>
std::optional<std::vector<Out>> convert(Convert&& run) {
  UErrorCode status = U_ZERO_ERROR;
  const std::int32_t length = run(nullptr, 0, &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return std::nullopt;
  std::vector<Out> out(static_cast<std::size_t>(length));
  status = U_ZERO_ERROR;
  run(out.data(), length, &status);
  if (U_FAILURE(status)) return std::nullopt;
  return out;
}

}  // namespace

std::string lowercase_hostname(std::string_view hostname) {
  // ICU counts in 32 bits; a name too long for it (never a real host name) is compared as is.
  if (hostname.empty() || hostname.size() > std::numeric_limits<std::int32_t>::max() / 4) {
    return std::string(hostname);
  }
  const auto utf16 = convert<UChar>([&](UChar* out, std::int32_t capacity, UErrorCode* status) {
    std::int32_t length = 0;
    u_strFromUTF8WithSub(out, capacity, &length, hostname.data(), static_cast<std::int32_t>(hostname.size()),
                         kReplacementCharacter, nullptr, status);
    return length;
  });
  if (!utf16) return std::string(hostname);
  const auto lower = convert<UChar>([&](UChar* out, std::int32_t capacity, UErrorCode* status) {
    return u_strToLower(out, capacity, utf16->data(), static_cast<std::int32_t>(utf16->size()), "", status);
  });
  if (!lower) return std::string(hostname);
  const auto utf8 = convert<char>([&](char* out, std::int32_t capacity, UErrorCode* status) {
    std::int32_t length = 0;
    u_strToUTF8(out, capacity, &length, lower->data(), static_cast<std::int32_t>(lower->size()), status);
    return length;
  });
  if (!utf8) return std::string(hostname);
  return std::string(utf8->begin(), utf8->end());
}

}  // namespace valdori::network::config
