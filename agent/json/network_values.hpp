// JSON forms of addresses, networks, public keys and UUIDs: each is a string in its text form, as
// in network documents; text that does not parse is an invalid value.
#pragma once

#include <string_view>

#include <boost/uuid/uuid.hpp>

#include "agent/json/record.hpp"
#include "agent/json/text_value.hpp"
#include "p2p_core/identity/keys.hpp"
#include "util/net/ipv4_net.hpp"
#include "util/text/uuid.hpp"

namespace valdori::agent::json_doc {

template <>
struct Codec<p2p::PubKey> : TextCodec<p2p::PubKey, p2p::PubKey::from_str> {
  static constexpr std::string_view kExpected = "a public key of 64 hexadecimal digits";
};

template <>
struct Codec<util::net::Ipv4Addr> : TextCodec<util::net::Ipv4Addr, util::net::parse_ipv4_addr> {
  static constexpr std::string_view kExpected = "an IPv4 address such as 10.44.0.1";
};

template <>
struct Codec<util::net::Ipv4Net> : TextCodec<util::net::Ipv4Net, util::net::Ipv4Net::parse> {
  static constexpr std::string_view kExpected = "an IPv4 network such as 10.44.0.0/24";
};

template <>
struct Codec<boost::uuids::uuid> : TextCodec<boost::uuids::uuid, util::text::parse_uuid, util::text::uuid_text> {
  static constexpr std::string_view kExpected = "a UUID";
};

}  // namespace valdori::agent::json_doc
