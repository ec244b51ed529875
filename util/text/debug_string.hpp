// The debug forms of texts and optional values as status reports and logs show them, and texts
// from outside shown among the system's own.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace valdori::util::text {

// What both forms escape: C0 controls, DEL and C1 controls (U+0080..U+009F), the line and
// paragraph separators (U+2028, U+2029), the bidirectional embeddings, overrides and isolates
// (U+202A..U+202E, U+2066..U+2069) and bytes that are not UTF-8. Right-to-left letters stay.

// A text in double quotes, with quotes, backslashes and the characters above escaped so that one
// value always stays on one line.
// "\"a\\\"b\\n\"" for a"b<LF>: \" \\ \0 \t \r \n by name, other escaped characters as
// \u{hex}, bytes that are not UTF-8 as \x{hex}; everything else unchanged.
std::string debug_string(std::string_view text);

// Text the system did not write itself (a document's values, a reply, a file, a URL, a host name)
// as a log line or report shows it: unquoted, with the characters above escaped, so that it can
// neither start a line of its own, nor move the cursor, nor reorder the line. \n \r \t by name,
// other escaped characters as the \xHH of each of their bytes (U+2028 as \xe2\x80\xa8), bytes
// that are not UTF-8 as \xHH; all else unchanged.
std::string escape_controls(std::string_view text);

// "None", or "Some(" with the value's own form and ")". `form` renders a present value, for
// example as its debug form.
template <class T, class Form>
std::string debug_optional(const std::optional<T>& value, Form&& form) {
  if (!value) return "None";
  return "Some(" + std::string(std::forward<Form>(form)(*value)) + ")";
}

}  // namespace valdori::util::text
