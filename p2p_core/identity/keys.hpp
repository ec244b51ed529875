// Key types of a node: its Ed25519 public and secret keys, and the proof of work that goes with
// an identity. Text form of both keys: 64 lower-case hexadecimal digits (the secret key's text is
// its 32-byte seed).
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include <fmt/format.h>
#include <boost/system/result.hpp>

#include "p2p_core/crypto/error.hpp"

namespace valdori::p2p {

inline constexpr std::size_t kPubKeyBytes = 32;
inline constexpr std::size_t kSecKeyBytes = 32;

class PubKey {
 public:
  using Bytes = std::array<std::uint8_t, kPubKeyBytes>;

  PubKey() = default;  // all zero
  explicit PubKey(const Bytes& bytes) : bytes_(bytes) {}

  static boost::system::result<PubKey, crypto::error::Error> from_str(std::string_view text);
  // Reads 32 bytes; the span must hold at least that many.
  static PubKey from_bytes(std::span<const std::uint8_t> bytes);

  const Bytes& bytes() const { return bytes_; }
  std::string to_string() const;
  // The UDP port this key's node listens on when no port is configured: stable for a key, and
  // in the range 22528..65535 so that it stays clear of well-known and common service ports.
  std::uint16_t udp_port() const;

  auto operator<=>(const PubKey&) const = default;

 private:
  Bytes bytes_{};
};

class SecKey {
 public:
  using Bytes = std::array<std::uint8_t, kSecKeyBytes>;

  SecKey() = default;
  explicit SecKey(const Bytes& seed) : seed_(seed) {}

  static boost::system::result<SecKey, crypto::error::Error> from_str(std::string_view text);
  static SecKey generate();

  const Bytes& bytes() const { return seed_; }
  std::string to_string() const;
  PubKey public_key() const;

  bool operator==(const SecKey&) const = default;

 private:
  Bytes seed_{};
};

// Proof of work: the nonce that, hashed with the public key, meets a difficulty.
class Pow {
 public:
  constexpr Pow() = default;
  constexpr explicit Pow(std::int32_t value) : value_(value) {}
  static constexpr Pow from(std::int32_t value) { return Pow(value); }
  constexpr std::int32_t value() const { return value_; }
  constexpr auto operator<=>(const Pow&) const = default;

 private:
  std::int32_t value_ = 0;
};

}  // namespace valdori::p2p

template <>
struct std::hash<valdori::p2p::PubKey> {
  std::size_t operator()(const valdori::p2p::PubKey& key) const noexcept {
    // Keys are uniformly distributed: the first eight bytes are a good hash already.
    std::size_t h = 0;
    for (std::size_t i = 0; i < sizeof h; ++i) h = h << 8 | key.bytes()[i];
    return h;
  }
};

template <>
struct fmt::formatter<valdori::p2p::PubKey> : fmt::formatter<std::string_view> {
  auto format(const valdori::p2p::PubKey& key, fmt::format_context& ctx) const {
    return fmt::formatter<std::string_view>::format(key.to_string(), ctx);
  }
};
