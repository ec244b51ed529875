#include "util/url/percent_encode.hpp"

#include <algorithm>
#include <array>
#include <cstdint>

#include "util/url/code_points.hpp"

namespace valdori::util::url {

bool in_encode_set(char32_t c, EncodeSet set) {
  if (c < 0x20 || c > 0x7e) return true;  // the C0 control percent-encode set, in every set
  switch (set) {
    case EncodeSet::C0Control: return false;
    case EncodeSet::Fragment: return c == ' ' || c == '"' || c == '<' || c == '>' || c == '`';
    case EncodeSet::SpecialQuery:
      if (c == '\'') return true;
      [[fallthrough]];
    case EncodeSet::Query: return c == ' ' || c == '"' || c == '#' || c == '<' || c == '>';
    case EncodeSet::Userinfo:
      if (c == '/' || c == ':' || c == ';' || c == '=' || c == '@' || (c >= '[' && c <= ']') || c == '|') return true;
      [[fallthrough]];
    case EncodeSet::Path:
      return in_encode_set(c, EncodeSet::Query) || c == '?' || c == '^' || c == '`' || c == '{' || c == '}';
  }
  return true;
}

void utf8_percent_encode(char32_t code_point, EncodeSet set, std::string& out) {
  static constexpr std::string_view kHex = "0123456789ABCDEF";
  if (!in_encode_set(code_point, set)) {
    out += static_cast<char>(code_point);
    return;
  }
  std::array<char, 4> bytes{};
  const std::size_t length = encode_utf8(code_point, bytes);
  for (std::size_t i = 0; i < length; ++i) {
    const auto byte = static_cast<std::uint8_t>(bytes[i]);
    out += '%';
    out += kHex[byte >> 4];
    out += kHex[byte & 0xf];
  }
}

std::string percent_decode(std::string_view input) {
  std::string output;
  output.reserve(input.size());
  for (std::size_t i = 0; i < input.size(); ++i) {
    if (input[i] == '%' && i + 2 < input.size() && is_ascii_hex_digit(input[i + 1]) &&
        is_ascii_hex_digit(input[i + 2])) {
      output += static_cast<char>(hex_value(input[i + 1]) * 16 + hex_value(input[i + 2]));
      i += 2;
    } else {
      output += input[i];
    }
  }
  return output;
}

std::vector<std::pair<std::string, std::string>> parse_urlencoded(std::string_view input) {
  std::vector<std::pair<std::string, std::string>> output;
  while (!input.empty()) {
    const std::size_t end = std::min(input.find('&'), input.size());
    std::string sequence(input.substr(0, end));
    input.remove_prefix(std::min(end + 1, input.size()));
    if (sequence.empty()) continue;
    std::ranges::replace(sequence, '+', ' ');
    const std::size_t equals = std::min(sequence.find('='), sequence.size());
    const std::string_view whole(sequence);
    output.emplace_back(percent_decode(whole.substr(0, equals)),
                        percent_decode(whole.substr(std::min(equals + 1, whole.size()))));
  }
  return output;
}

}  // namespace valdori::util::url
