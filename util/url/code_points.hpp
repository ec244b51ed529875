// Code point classes and UTF-8 conversions the URL parser works with.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace valdori::util::url {

constexpr bool is_ascii_digit(char32_t c) { return c >= '0' && c <= '9'; }
constexpr bool is_ascii_alpha(char32_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool is_ascii_alphanumeric(char32_t c) { return is_ascii_digit(c) || is_ascii_alpha(c); }
// What a scheme holds after its first letter.
constexpr bool is_scheme_code_point(char32_t c) { return is_ascii_alphanumeric(c) || c == '+' || c == '-' || c == '.'; }
constexpr bool is_ascii_hex_digit(char32_t c) {
  return is_ascii_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
// The value of an ASCII hex digit.
constexpr unsigned hex_value(char32_t c) { return is_ascii_digit(c) ? c - '0' : (c | 0x20) - 'a' + 10; }
constexpr char32_t ascii_lowercase(char32_t c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

// Appends the UTF-8 encoding of a scalar value; gives the number of bytes written.
std::size_t encode_utf8(char32_t code_point, std::array<char, 4>& out);
std::string encode_utf8(std::u32string_view text);

// The scalar values of UTF-8 text; each byte of an ill-formed sequence becomes U+FFFD.
std::u32string decode_utf8(std::string_view bytes);

}  // namespace valdori::util::url
