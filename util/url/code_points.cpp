#include "util/url/code_points.hpp"

#include <cstdint>

namespace valdori::util::url {

std::size_t encode_utf8(char32_t c, std::array<char, 4>& out) {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xc0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3f));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xe0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    out[2] = static_cast<char>(0x80 | (c & 0x3f));
    return 3;
  }
  out[0] = static_cast<char>(0xf0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3f));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3f));
  out[3] = static_cast<char>(0x80 | (c & 0x3f));
  return 4;
}

std::string encode_utf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  std::array<char, 4> bytes{};
  for (const char32_t c : text) out.append(bytes.data(), encode_utf8(c, bytes));
  return out;
}

std::u32string decode_utf8(std::string_view bytes) {
  constexpr char32_t kReplacement = 0xfffd;
  std::u32string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<std::uint8_t>(bytes[i]);
    std::size_t length = 0;
    char32_t c = 0;
    char32_t min = 0;
    if (lead < 0x80) {
      length = 1, c = lead;
    } else if (lead >= 0xc2 && lead <= 0xdf) {
      length = 2, c = lead & 0x1f, min = 0x80;
    } else if (lead >= 0xe0 && lead <= 0xef) {
      length = 3, c = lead & 0x0f, min = 0x800;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
      length = 4, c = lead & 0x07, min = 0x10000;
    }
    bool valid = length != 0 && i + length <= bytes.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<std::uint8_t>(bytes[i + k]);
      valid = (next & 0xc0) == 0x80;
      c = (c << 6) | (next & 0x3f);
    }
    // Overlong forms, surrogates and values past U+10FFFF are no scalar values.
    if (!valid || c < min || (c >= 0xd800 && c <= 0xdfff) || c > 0x10ffff) {
      out += kReplacement;
      ++i;
      continue;
    }
    out += c;
    i += length;
  }
  return out;
}

}  // namespace valdori::util::url
