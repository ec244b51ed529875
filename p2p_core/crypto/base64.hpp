// Base64 text of byte strings.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace valdori::p2p::crypto {

enum class Base64Variant : std::uint8_t {
  Original,          // "+" and "/", padded with "=" to a multiple of four characters
  UrlSafeNoPadding,  // "-" and "_", no padding
};

std::string base64_encode(std::span<const std::uint8_t> bytes, Base64Variant variant = Base64Variant::Original);
// Nothing for text that is not the canonical form of the variant: a character outside its
// alphabet (white space included), wrong padding, or non-zero bits after the last byte.
std::optional<std::vector<std::uint8_t>> base64_decode(std::string_view text,
                                                       Base64Variant variant = Base64Variant::Original);

}  // namespace valdori::p2p::crypto
