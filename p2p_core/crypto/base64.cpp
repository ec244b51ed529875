#include "p2p_core/crypto/base64.hpp"

#include <sodium.h>

#include "p2p_core/crypto/sodium.hpp"

namespace valdori::p2p::crypto {
namespace {

int sodium_variant(Base64Variant variant) {
  return variant == Base64Variant::Original ? sodium_base64_VARIANT_ORIGINAL : sodium_base64_VARIANT_URLSAFE_NO_PADDING;
}

}  // namespace

std::string base64_encode(std::span<const std::uint8_t> bytes, Base64Variant variant) {
  ensure_sodium();
  const int v = sodium_variant(variant);
  // The encoded length counts the terminating NUL that sodium writes.
  std::string text(sodium_base64_encoded_len(bytes.size(), v), '\0');
  sodium_bin2base64(text.data(), text.size(), bytes.data(), bytes.size(), v);
  text.pop_back();
  return text;
}

std::optional<std::vector<std::uint8_t>> base64_decode(std::string_view text, Base64Variant variant) {
  ensure_sodium();
  std::vector<std::uint8_t> bytes(text.size() / 4 * 3 + 3);
  std::size_t length = 0;
  if (sodium_base642bin(bytes.data(), bytes.size(), text.data(), text.size(), nullptr, &length, nullptr,
                        sodium_variant(variant)) != 0)
    return std::nullopt;
  bytes.resize(length);
  return bytes;
}

}  // namespace valdori::p2p::crypto
