#include "util/text/debug_string.hpp"

#include <cstddef>
#include <cstdint>
#include <iterator>

#include <fmt/format.h>

#include "util/text/utf8.hpp"

namespace valdori::util::text {
namespace {

// Length of the UTF-8 sequence starting at `i`, or 0 when the bytes there are not one.
std::size_t sequence_length(std::string_view text, std::size_t i) {
  const auto lead = static_cast<std::uint8_t>(text[i]);
  const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  if (i + length > text.size() || !is_valid_utf8(text.substr(i, length))) return 0;
  return length;
}

// Code point of a valid two-byte sequence; only C1 controls (U+0080..U+009F) need it.
std::uint32_t two_byte_code_point(std::string_view sequence) {
  return (static_cast<std::uint32_t>(static_cast<std::uint8_t>(sequence[0]) & 0x1F) << 6) |
         (static_cast<std::uint8_t>(sequence[1]) & 0x3F);
}

}  // namespace

std::string debug_string(std::string_view text) {
  std::string out = "\"";
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    const auto byte = static_cast<std::uint8_t>(c);
    if (byte < 0x80) {
      switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\0': out += "\\0"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        default:
          if (byte < 0x20 || byte == 0x7F) {
            out += fmt::format("\\u{{{:x}}}", byte);
          } else {
            out += c;
          }
      }
      ++i;
      continue;
    }
    const std::size_t length = sequence_length(text, i);
    if (length == 0) {
      out += fmt::format("\\x{{{:02x}}}", byte);
      ++i;
      continue;
    }
    const std::string_view sequence = text.substr(i, length);
    if (length == 2 && two_byte_code_point(sequence) < 0xA0) {
      out += fmt::format("\\u{{{:x}}}", two_byte_code_point(sequence));
    } else {
      out += sequence;
    }
    i += length;
  }
  out += '"';
  return out;
}

std::string escape_controls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const auto escape = [&out](char c) {
    fmt::format_to(std::back_inserter(out), "\\x{:02x}", static_cast<std::uint8_t>(c));
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const auto byte = static_cast<std::uint8_t>(c);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      escape(c);
    } else if (byte == 0xC2 && i + 1 < text.size() && static_cast<std::uint8_t>(text[i + 1]) >= 0x80 &&
               static_cast<std::uint8_t>(text[i + 1]) < 0xA0) {
      escape(c);
      escape(text[++i]);
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace valdori::util::text
