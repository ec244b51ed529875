#include "agent/toml/string_literal.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>

#include <fmt/format.h>
#include <unicode/utf.h>

#include "util/text/utf8.hpp"
#include "util/url/code_points.hpp"

namespace valdori::agent::toml_doc {
namespace {

// What a one-letter escape stands for; 0 when the letter names none.
char simple_escape(char letter) {
  switch (letter) {
    case 'b': return '\b';
    case 't': return '\t';
    case 'n': return '\n';
    case 'f': return '\f';
    case 'r': return '\r';
    case 'e': return '\x1b';
    case '"': return '"';
    case '\\': return '\\';
    default: return 0;
  }
}

// How many hex digits follow an escape's letter: \xHH, \uHHHH, \UHHHHHHHH; 0 for other letters.
std::size_t hex_digits(char letter) {
  switch (letter) {
    case 'x': return 2;
    case 'u': return 4;
    case 'U': return 8;
    default: return 0;
  }
}

// The code point that the first `digits` characters of `hex` name; absent when they name none.
std::optional<std::uint32_t> code_point(std::string_view hex, std::size_t digits) {
  if (digits == 0 || hex.size() < digits) return std::nullopt;
  std::uint32_t point = 0;
  const char* end = hex.data() + digits;
  if (const auto read = std::from_chars(hex.data(), end, point, 16); read.ec != std::errc() || read.ptr != end) {
    return std::nullopt;
  }
  if (point > 0x10FFFF || U_IS_SURROGATE(point)) return std::nullopt;
  return point;
}

}  // namespace

std::optional<std::string> string_literal(std::string_view text) {
  if (!util::text::is_valid_utf8(text)) return std::nullopt;
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      default:
        if (const auto byte = static_cast<unsigned char>(c); byte < 0x20 || byte == 0x7F) {
          out += fmt::format("\\u{:04X}", byte);
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('"');
  return out;
}

std::string basic_string_text(std::string_view content) {
  std::string text;
  text.reserve(content.size());
  for (std::size_t i = 0; i < content.size(); ++i) {
    const char letter = i + 1 < content.size() && content[i] == '\\' ? content[i + 1] : '\0';
    const std::size_t digits = hex_digits(letter);
    if (const char c = simple_escape(letter)) {
      text.push_back(c);
      ++i;
    } else if (const auto point = code_point(content.substr(std::min(i + 2, content.size())), digits)) {
      std::array<char, 4> bytes{};
      text.append(bytes.data(), util::url::encode_utf8(*point, bytes));
      i += 1 + digits;
    } else {
      text.push_back(content[i]);
    }
  }
  return text;
}

}  // namespace valdori::agent::toml_doc
