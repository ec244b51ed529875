// Shared values of the message codec tests: fixed keys, ids and endpoints, a session-key pair and
// hex helpers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/asio/ip/address.hpp>

#include "p2p_core/crypto/hex.hpp"
#include "p2p_core/crypto/key_conversion.hpp"
#include "p2p_core/crypto/session_keys.hpp"
#include "p2p_core/identity/keys.hpp"
#include "p2p_core/message/layout.hpp"
#include "p2p_core/message/short_header.hpp"
#include "p2p_core/net/socket_addr.hpp"
#include "tests/support/must.hpp"

namespace valdori::p2p::codec_test {

using valdori::testing::must;

inline PubKey key_of(std::uint8_t fill) {
  PubKey::Bytes bytes;
  bytes.fill(fill);
  return PubKey(bytes);
}

inline const PubKey kSender = key_of(0x11);
inline const PubKey kRecipient = key_of(0x22);
inline const PubKey kPeer = key_of(0x33);
inline constexpr Pow kPow{-2};  // fe ff ff ff on a little-endian wire, ff ff ff fe on ours
inline constexpr message::NetworkId kNetworkId{0, 0, 0, 7};
inline const message::ShortId kShortId{{0x0a, 0x0b, 0x0c, 0x0d}};
// One of each family.
inline const std::vector<net::SocketAddr> kEndpoints{{boost::asio::ip::make_address("192.0.2.1"), 4000},
                                                     {boost::asio::ip::make_address("2001:db8::1"), 8080}};

inline std::vector<std::uint8_t> unhex(std::string_view text) { return must(crypto::hex_decode(text)); }
inline std::string hex(std::span<const std::uint8_t> bytes) { return crypto::hex_encode(bytes); }
inline std::string repeat(std::string_view hex_byte, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += hex_byte;
  return out;
}

// The session keys of two nodes with fixed identities; a.tx arms what b.rx disarms.
struct KeyPair {
  crypto::SessionKeys a;
  crypto::SessionKeys b;
};

inline KeyPair session_key_pair() {
  const SecKey sk_a(SecKey::Bytes{1});
  const SecKey sk_b(SecKey::Bytes{2});
  const auto pk_a = must(crypto::convert_ed25519_pk_to_curve25519_pk(sk_a.public_key()));
  const auto pk_b = must(crypto::convert_ed25519_pk_to_curve25519_pk(sk_b.public_key()));
  const auto x_sk_a = must(crypto::convert_ed25519_sk_to_curve25519_sk(sk_a));
  const auto x_sk_b = must(crypto::convert_ed25519_sk_to_curve25519_sk(sk_b));
  return {must(crypto::compute_kx_session_keys(pk_a, x_sk_a, pk_b)),
          must(crypto::compute_kx_session_keys(pk_b, x_sk_b, pk_a))};
}
inline const KeyPair kKeys = session_key_pair();

using Key = std::optional<crypto::SessionKey>;

}  // namespace valdori::p2p::codec_test
