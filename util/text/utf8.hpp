// UTF-8 validation of byte strings that come from outside (environment, files).
#pragma once

#include <string_view>

namespace valdori::util::text {

// True when `bytes` is well-formed UTF-8: shortest encodings only, no surrogates, nothing above
// U+10FFFF.
bool is_valid_utf8(std::string_view bytes);

}  // namespace valdori::util::text
