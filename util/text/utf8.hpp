// UTF-8 validation of byte strings that come from outside (environment, files), and counting
// code points in text.
#pragma once

#include <cstddef>
#include <string_view>

namespace valdori::util::text {

// True when `bytes` is well-formed UTF-8: shortest encodings only, no surrogates, nothing above
// U+10FFFF.
bool is_valid_utf8(std::string_view bytes);

// The code points of UTF-8 text: its bytes less the continuation bytes.
std::size_t code_point_count(std::string_view text);
// Where code point `index` (from 0) of UTF-8 text starts; the text's size when it has fewer.
std::size_t code_point_offset(std::string_view text, std::size_t index);

}  // namespace valdori::util::text
