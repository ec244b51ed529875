#include "util/text/debug_string.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include <fmt/format.h>

#include "util/text/utf8.hpp"
#include "util/url/code_points.hpp"

namespace valdori::util::text {
namespace {

// Length of the UTF-8 sequence starting at `i`, or 0 when the bytes there are not one.
std::size_t sequence_length(std::string_view text, std::size_t i) {
  const auto lead = static_cast<std::uint8_t>(text[i]);
  const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  if (i + length > text.size() || !is_valid_utf8(text.substr(i, length))) return 0;
  return length;
}

// Log viewers and JSON tools end a line at the line and paragraph separators.
bool is_line_separator(char32_t c) { return c == 0x2028 || c == 0x2029; }

// Unicode's bidirectional format controls (the marks, embeddings, overrides and isolates)
// reorder the line around them.
bool is_bidi_control(char32_t c) {
  return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// What can end a line, move the cursor or reorder the line for a reader.
bool needs_escape(char32_t c) {
  return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0) || is_line_separator(c) || is_bidi_control(c);
}

// Calls `sequence(bytes, code_point)` for each well-formed UTF-8 sequence of `text` and
// `stray(byte)` for each byte that is not part of one.
template <class Sequence, class Stray>
void for_each_code_point(std::string_view text, Sequence&& sequence, Stray&& stray) {
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t length = sequence_length(text, i);
    if (length == 0) {
      stray(static_cast<std::uint8_t>(text[i]));
      ++i;
      continue;
    }
    const std::string_view bytes = text.substr(i, length);
    sequence(bytes, length == 1 ? static_cast<char32_t>(bytes[0]) : url::decode_utf8(bytes).front());
    i += length;
  }
}

// The longest start of `text` of at most `width` bytes that ends where a UTF-8 sequence or a
// stray byte ends.
std::string_view shown_part(std::string_view text, std::size_t width) {
  if (text.size() <= width) return text;
  std::size_t end = 0;
  for (;;) {
    const std::size_t unit = std::max<std::size_t>(sequence_length(text, end), 1);
    if (end + unit > width) return text.substr(0, end);
    end += unit;
  }
}

// What stands after a cut text: the mark and how much was left out.
std::string cut_note(std::size_t left_out) {
  if (left_out == 0) return {};
  return fmt::format("{} ({} more byte{})", kCutMark, left_out, left_out == 1 ? "" : "s");
}

}  // namespace

std::string debug_string(std::string_view whole, std::size_t width) {
  const std::string_view text = shown_part(whole, width);
  std::string out = "\"";
  auto to = std::back_inserter(out);
  for_each_code_point(
      text,
      [&](std::string_view bytes, char32_t c) {
        switch (c) {
          case '"': out += "\\\""; break;
          case '\\': out += "\\\\"; break;
          case '\0': out += "\\0"; break;
          case '\t': out += "\\t"; break;
          case '\r': out += "\\r"; break;
          case '\n': out += "\\n"; break;
          default:
            if (needs_escape(c)) {
              fmt::format_to(to, "\\u{{{:x}}}", static_cast<std::uint32_t>(c));
            } else {
              out += bytes;
            }
        }
      },
      [&](std::uint8_t byte) { fmt::format_to(to, "\\x{{{:02x}}}", byte); });
  out += '"';
  return out + cut_note(whole.size() - text.size());
}

std::string escape_controls(std::string_view whole, std::size_t width) {
  const std::string_view text = shown_part(whole, width);
  std::string out;
  out.reserve(text.size());
  const auto escape = [&out](std::uint8_t byte) { fmt::format_to(std::back_inserter(out), "\\x{:02x}", byte); };
  for_each_code_point(
      text,
      [&](std::string_view bytes, char32_t c) {
        if (c == '\n') {
          out += "\\n";
        } else if (c == '\r') {
          out += "\\r";
        } else if (c == '\t') {
          out += "\\t";
        } else if (needs_escape(c)) {
          for (const char byte : bytes) escape(static_cast<std::uint8_t>(byte));
        } else {
          out += bytes;
        }
      },
      escape);
  return out + cut_note(whole.size() - text.size());
}

}  // namespace valdori::util::text
