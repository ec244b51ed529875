// The debug forms of texts and optional values as status reports and logs show them, and texts
// from outside shown among the system's own.
#pragma once

#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace valdori::util::text {

// What both forms escape: C0 controls, DEL and C1 controls (U+0080..U+009F), the line and
// paragraph separators (U+2028, U+2029), the twelve bidirectional format controls (U+061C,
// U+200E, U+200F, U+202A..U+202E, U+2066..U+2069) and bytes that are not UTF-8. Right-to-left
// letters stay.
//
// Both forms show the first `width` bytes of the text at most, cut where a character or a stray
// byte ends (never inside one, nor inside its escape), and then how much was left out:
// "abc... (4194200 more bytes)", so that a reply or a name cannot fill a log. The default keeps
// whole DNS names (253 bytes) and URLs.
inline constexpr std::size_t kShownWidth = 512;
// For text that is shown whole (or cut by its caller).
inline constexpr std::size_t kWhole = std::numeric_limits<std::size_t>::max();
// Stands where a text was cut.
inline constexpr std::string_view kCutMark = "...";

// A text in double quotes, with quotes, backslashes and the characters above escaped so that one
// value always stays on one line.
// "\"a\\\"b\\n\"" for a"b<LF>: \" \\ \0 \t \r \n by name, other escaped characters as
// \u{hex}, bytes that are not UTF-8 as \x{hex}; everything else unchanged. A cut stands
// after the closing quote.
std::string debug_string(std::string_view text, std::size_t width = kShownWidth);

// Text the system did not write itself (a document's values, a reply, a file, a URL, a host name)
// as a log line or report shows it: unquoted, with the characters above escaped, so that it can
// neither start a line of its own, nor move the cursor, nor reorder the line. \n \r \t by name,
// other escaped characters as the \xHH of each of their bytes (U+2028 as \xe2\x80\xa8), bytes
// that are not UTF-8 as \xHH; all else unchanged.
std::string escape_controls(std::string_view text, std::size_t width = kShownWidth);

// "None", or "Some(" with the value's own form and ")". `form` renders a present value, for
// example as its debug form.
template <class T, class Form>
std::string debug_optional(const std::optional<T>& value, Form&& form) {
  if (!value) return "None";
  return "Some(" + std::string(std::forward<Form>(form)(*value)) + ")";
}

}  // namespace valdori::util::text
