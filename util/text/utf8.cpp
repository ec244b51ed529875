#include "util/text/utf8.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace valdori::util::text {
namespace {

bool is_continuation(char c) { return (static_cast<std::uint8_t>(c) & 0xC0) == 0x80; }

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
  const auto continuation = [&](std::size_t i) { return i < bytes.size() && (byte(i) & 0xC0) == 0x80; };
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::uint8_t lead = byte(i);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    // The second byte's range rules out overlong forms, surrogates and values above U+10FFFF.
    std::uint8_t second_min = 0x80;
    std::uint8_t second_max = 0xBF;
    std::size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) second_min = 0xA0;
      if (lead == 0xED) second_max = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) second_min = 0x90;
      if (lead == 0xF4) second_max = 0x8F;
    } else {
      return false;
    }
    if (i + 1 >= bytes.size() || byte(i + 1) < second_min || byte(i + 1) > second_max) return false;
    for (std::size_t k = 2; k < length; ++k) {
      if (!continuation(i + k)) return false;
    }
    i += length;
  }
  return true;
}

std::size_t code_point_count(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) { return !is_continuation(c); }));
}

std::size_t code_point_offset(std::string_view text, std::size_t index) {
  std::size_t offset = 0;
  for (; offset < text.size(); ++offset) {
    if (is_continuation(text[offset])) continue;
    if (index == 0) return offset;
    --index;
  }
  return offset;
}

}  // namespace valdori::util::text
