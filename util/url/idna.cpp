#include "util/url/idna.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

#include <unicode/uidna.h>

#include "util/url/code_points.hpp"

namespace valdori::util::url {
namespace {

// CheckBidi and CheckJoiners on, nontransitional processing; UseSTD3ASCIIRules off.
const UIDNA* uts46() {
  static const UIDNA* const idna = [] {
    UErrorCode status = U_ZERO_ERROR;
    UIDNA* opened = uidna_openUTS46(
        UIDNA_CHECK_BIDI | UIDNA_CHECK_CONTEXTJ | UIDNA_NONTRANSITIONAL_TO_ASCII | UIDNA_NONTRANSITIONAL_TO_UNICODE,
        &status);
    return U_SUCCESS(status) ? opened : nullptr;
  }();
  return idna;
}

// ICU always checks hyphens and DNS lengths; the standard turns CheckHyphens and VerifyDnsLength off.
constexpr std::uint32_t kIgnoredErrors = UIDNA_ERROR_LEADING_HYPHEN | UIDNA_ERROR_TRAILING_HYPHEN |
                                         UIDNA_ERROR_HYPHEN_3_4 | UIDNA_ERROR_EMPTY_LABEL | UIDNA_ERROR_LABEL_TOO_LONG |
                                         UIDNA_ERROR_DOMAIN_NAME_TOO_LONG;

}  // namespace

std::optional<std::string> domain_to_ascii(std::string_view domain) {
  // With beStrict false an ASCII domain is lower-cased whatever ToASCII says of it.
  if (std::ranges::all_of(domain, [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    std::string lower(domain);
    for (char& c : lower) c = static_cast<char>(ascii_lowercase(static_cast<unsigned char>(c)));
    return lower;
  }
  const UIDNA* idna = uts46();
  if (idna == nullptr || domain.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max() / 4)) {
    return std::nullopt;
  }
  std::string out(domain.size() * 2 + 16, '\0');
  for (;;) {
    UErrorCode status = U_ZERO_ERROR;
    UIDNAInfo info = UIDNA_INFO_INITIALIZER;
    const std::int32_t length =
        uidna_nameToASCII_UTF8(idna, domain.data(), static_cast<std::int32_t>(domain.size()), out.data(),
                               static_cast<std::int32_t>(out.size()), &info, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
      out.resize(static_cast<std::size_t>(length));
      continue;
    }
    if (U_FAILURE(status) || (info.errors & ~kIgnoredErrors) != 0) return std::nullopt;
    out.resize(static_cast<std::size_t>(length));
    return out;
  }
}

}  // namespace valdori::util::url
