// Readers of the address, network, public-key, UUID and super-peer values of network documents:
// each is a TOML string in its text form; text that does not parse is an invalid value at its
// position, and a rejected key or super-peer URL carries its parser's message.
#pragma once

#include <string_view>

#include <boost/uuid/uuid.hpp>

#include "agent/toml/field.hpp"
#include "p2p_core/crypto/error.hpp"
#include "p2p_core/identity/keys.hpp"
#include "p2p_core/identity/super_peer_url.hpp"
#include "util/net/ipv4_net.hpp"
#include "util/text/uuid.hpp"

namespace valdori::agent::toml_doc {

// Dotted quad: "10.44.0.1".
template <>
struct ValueReader<util::net::Ipv4Addr> : TextReader<util::net::Ipv4Addr, util::net::parse_ipv4_addr> {
  static constexpr std::string_view kExpected = "an IPv4 address such as 10.44.0.1";
};

// Address and prefix length: "10.44.0.0/24"; the prefix length is required.
template <>
struct ValueReader<util::net::Ipv4Net> : TextReader<util::net::Ipv4Net, util::net::Ipv4Net::parse> {
  static constexpr std::string_view kExpected = "an IPv4 network such as 10.44.0.0/24";
};

template <>
struct ValueReader<p2p::PubKey> : TextReader<p2p::PubKey, p2p::PubKey::from_str> {};

// 32 hexadecimal digits, with or without the four hyphens, optionally in braces.
template <>
struct ValueReader<boost::uuids::uuid> : TextReader<boost::uuids::uuid, util::text::parse_uuid> {
  static constexpr std::string_view kExpected = "a UUID";
};

// A super peer: its URL text.
template <>
struct ValueReader<p2p::SuperPeerUrl> : TextReader<p2p::SuperPeerUrl, p2p::SuperPeerUrl::try_from> {};

}  // namespace valdori::agent::toml_doc
