#include "p2p_core/crypto/hex.hpp"

namespace valdori::p2p::crypto {
namespace {

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string hex_encode(std::span<const std::uint8_t> bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string out(bytes.size() * 2, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    out[2 * i] = digits[bytes[i] >> 4];
    out[2 * i + 1] = digits[bytes[i] & 0x0f];
  }
  return out;
}

boost::system::result<void, error::HexError> hex_decode_into(std::string_view text, std::span<std::uint8_t> out) {
  // Characters are checked before the length, so a wrong character is named even in a short text.
  for (char c : text)
    if (digit_value(c) < 0) return error::HexError::invalid_character(static_cast<std::uint8_t>(c));
  if (text.size() != out.size() * 2) return error::HexError::invalid_length();
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<std::uint8_t>(digit_value(text[2 * i]) << 4 | digit_value(text[2 * i + 1]));
  return {};
}

boost::system::result<std::vector<std::uint8_t>, error::HexError> hex_decode(std::string_view text) {
  if (text.size() % 2 != 0) {
    for (char c : text)
      if (digit_value(c) < 0) return error::HexError::invalid_character(static_cast<std::uint8_t>(c));
    return error::HexError::invalid_length();
  }
  std::vector<std::uint8_t> out(text.size() / 2);
  if (auto r = hex_decode_into(text, out); !r) return r.error();
  return out;
}

}  // namespace valdori::p2p::crypto
