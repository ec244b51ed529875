#include "p2p_core/identity/keys.hpp"

#include <sodium.h>

#include <cstring>

#include "p2p_core/crypto/hex.hpp"

namespace valdori::p2p {
namespace {

template <class Bytes>
boost::system::result<Bytes, crypto::error::Error> parse_key_text(std::string_view text) {
  Bytes bytes{};
  if (auto r = crypto::hex_decode_into(text, bytes); !r) return crypto::error::Error::from_hex(r.error());
  return bytes;
}

}  // namespace

boost::system::result<PubKey, crypto::error::Error> PubKey::from_str(std::string_view text) {
  auto bytes = parse_key_text<Bytes>(text);
  if (!bytes) return bytes.error();
  return PubKey(*bytes);
}

PubKey PubKey::from_bytes(std::span<const std::uint8_t> bytes) {
  Bytes b;
  std::memcpy(b.data(), bytes.data(), b.size());
  return PubKey(b);
}

std::string PubKey::to_string() const { return crypto::hex_encode(bytes_); }

std::uint16_t PubKey::udp_port() const {
  constexpr std::uint32_t kFirst = 22528;
  constexpr std::uint32_t kCount = 65536 - kFirst;
  const std::uint32_t mixed = static_cast<std::uint32_t>(bytes_[0]) << 8 | bytes_[1];
  return static_cast<std::uint16_t>(kFirst + mixed % kCount);
}

boost::system::result<SecKey, crypto::error::Error> SecKey::from_str(std::string_view text) {
  auto bytes = parse_key_text<Bytes>(text);
  if (!bytes) return bytes.error();
  return SecKey(*bytes);
}

SecKey SecKey::generate() {
  if (sodium_init() < 0) std::abort();
  Bytes seed;
  randombytes_buf(seed.data(), seed.size());
  return SecKey(seed);
}

std::string SecKey::to_string() const { return crypto::hex_encode(seed_); }

PubKey SecKey::public_key() const {
  std::array<std::uint8_t, crypto_sign_PUBLICKEYBYTES> pk;
  std::array<std::uint8_t, crypto_sign_SECRETKEYBYTES> sk;
  crypto_sign_seed_keypair(pk.data(), sk.data(), seed_.data());
  sodium_memzero(sk.data(), sk.size());
  return PubKey::from_bytes(pk);
}

}  // namespace valdori::p2p
