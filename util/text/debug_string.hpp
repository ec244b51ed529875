// The debug form of a text as shown in status reports and logs: in double quotes, with quotes,
// backslashes and control characters escaped so that one value always stays on one line.
#pragma once

#include <string>
#include <string_view>

namespace valdori::util::text {

// "\"a\\\"b\\n\"" for a"b<LF>: \" \\ \0 \t \r \n by name, other control characters as
// \u{hex}, bytes that are not UTF-8 as \x{hex}; everything else unchanged.
std::string debug_string(std::string_view text);

}  // namespace valdori::util::text
