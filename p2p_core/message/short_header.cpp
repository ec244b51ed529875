#include "p2p_core/message/short_header.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "p2p_core/crypto/hex.hpp"
#include "p2p_core/crypto/sodium.hpp"
#include "p2p_core/message/arming.hpp"
#include "p2p_core/message/layout.hpp"

namespace valdori::p2p::message {

ShortId ShortId::random() {
  ShortId id;
  do crypto::random_bytes(id.bytes);
  while (!id.is_valid());
  return id;
}

bool ShortId::is_valid() const { return *this != ShortId{} && bytes != kMagicNumber.bytes; }

std::string ShortId::to_string() const { return crypto::hex_encode(bytes); }

namespace {

std::size_t message_len(std::size_t data_len, bool armed) {
  return kShortIdLen + data_len + (armed ? kArmOverhead : 0);
}

}  // namespace

boost::system::result<std::vector<std::uint8_t>, error::Error> ShortHeader::build(
    const ShortId& short_id, const std::optional<crypto::SessionKey>& tx_key, std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> message(message_len(data.size(), tx_key.has_value()));
  if (auto built = build_into(message, short_id, tx_key, data); !built) return built.error();
  return message;
}

boost::system::result<std::size_t, error::Error> ShortHeader::build_into(
    std::span<std::uint8_t> out, const ShortId& short_id, const std::optional<crypto::SessionKey>& tx_key,
    std::span<const std::uint8_t> data) {
  if (!short_id.is_valid()) return error::InvalidShortId{};
  const std::size_t length = message_len(data.size(), tx_key.has_value());
  if (out.size() < length)
    return error::WriteAppMessageFailed{fmt::format("{} bytes of room for a {}-byte message", out.size(), length)};
  std::ranges::copy(short_id.bytes, out.begin());
  if (!tx_key) {
    std::ranges::copy(data, out.begin() + kShortIdLen);
    return length;
  }
  std::ranges::copy(data, out.begin() + kShortIdLen + kArmNonceLen);
  if (auto armed = arm_in_place(out.subspan(kShortIdLen, length - kShortIdLen), short_id.bytes, *tx_key); !armed)
    return armed.error();
  return length;
}

boost::system::result<std::span<const std::uint8_t>, error::Error> ShortHeader::parse(
    std::span<std::uint8_t> message, const std::optional<crypto::SessionKey>& rx_key) {
  if (message.size() < kShortIdLen)
    return error::ShortHeaderConversionFailed{fmt::format("{} bytes hold no short id", message.size())};
  ShortId short_id;
  std::copy_n(message.begin(), kShortIdLen, short_id.bytes.begin());
  if (!short_id.is_valid()) return error::InvalidShortId{};
  const auto rest = message.subspan(kShortIdLen);
  if (!rx_key) return rest;
  auto plain = disarm_in_place(rest, short_id.bytes, *rx_key);
  if (!plain) return plain.error();
  return std::span<const std::uint8_t>(*plain);
}

}  // namespace valdori::p2p::message
