// JSON forms of the overlay's values: socket addresses, IP addresses, short ids and super-peer
// URLs are strings in their text forms ("192.0.2.1:4000", "[2001:db8::1]:4000", "0a0b0c0d"); a
// path key is {"local": address, "remote": address}.
#pragma once

#include <optional>
#include <string_view>
#include <tuple>

#include <boost/asio/ip/address.hpp>

#include "agent/json/network_values.hpp"
#include "agent/json/record.hpp"
#include "agent/json/text_value.hpp"
#include "p2p_core/identity/super_peer_url.hpp"
#include "p2p_core/message/short_header.hpp"
#include "p2p_core/net/socket_addr.hpp"
#include "p2p_core/peer/peer_path.hpp"

namespace valdori::agent::json_doc {

std::optional<p2p::net::SocketAddr> parse_socket_addr(std::string_view text);
std::optional<boost::asio::ip::address> parse_ip_addr(std::string_view text);
std::optional<p2p::message::ShortId> parse_short_id(std::string_view text);

template <>
struct Codec<p2p::net::SocketAddr> : TextCodec<p2p::net::SocketAddr, parse_socket_addr, p2p::net::to_string> {
  static constexpr std::string_view kExpected = "a socket address such as 192.0.2.1:4000";
};

template <>
struct Codec<boost::asio::ip::address> : TextCodec<boost::asio::ip::address, parse_ip_addr> {
  static constexpr std::string_view kExpected = "an IP address";
};

template <>
struct Codec<p2p::message::ShortId> : TextCodec<p2p::message::ShortId, parse_short_id> {
  static constexpr std::string_view kExpected = "a short id of 8 hexadecimal digits";
};

template <>
struct Codec<p2p::SuperPeerUrl> : TextCodec<p2p::SuperPeerUrl, p2p::SuperPeerUrl::try_from> {
  static constexpr std::string_view kExpected = "a super peer URL";
};

template <>
struct Codec<p2p::peer::PeerPathKey> {
  static constexpr auto kFields =
      std::tuple{field("local", &p2p::peer::PeerPathKey::local), field("remote", &p2p::peer::PeerPathKey::remote)};
  template <class J>
  static p2p::peer::PeerPathKey decode(const J& value) {
    return decode_fields<p2p::peer::PeerPathKey>(value, Label{"struct", "PeerPathKey"}, kFields);
  }
  template <class J>
  static J encode(const p2p::peer::PeerPathKey& key) {
    return encode_fields<J>(key, kFields);
  }
};

}  // namespace valdori::agent::json_doc
