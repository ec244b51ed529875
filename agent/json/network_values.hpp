// JSON forms of addresses, networks, public keys and UUIDs: each is a string in its text form, as
// in network documents; text that does not parse is an invalid value.
#pragma once

#include <string>
#include <string_view>

#include <boost/uuid/uuid.hpp>

#include "agent/json/record.hpp"
#include "p2p_core/identity/keys.hpp"
#include "util/net/ipv4_net.hpp"

namespace valdori::agent::json_doc {

// The parsed text of a string value; a string `parse` refuses is an invalid value.
template <class J, class Parse>
auto decode_text(const J& value, std::string_view expected, Parse parse) {
  if (!value.is_string()) invalid_type(value, expected);
  if (auto parsed = parse(value.template get_ref<const typename J::string_t&>())) return *parsed;
  invalid_value(value, expected);
}

std::optional<p2p::PubKey> parse_pub_key(std::string_view text);
// With or without hyphens, optionally in braces, as network documents are read.
std::optional<boost::uuids::uuid> parse_uuid(std::string_view text);
// Lower case with hyphens.
std::string uuid_text(const boost::uuids::uuid& id);

template <>
struct Codec<p2p::PubKey> {
  template <class J>
  static p2p::PubKey decode(const J& value) {
    return decode_text(value, "a public key of 64 hexadecimal digits", parse_pub_key);
  }
  template <class J>
  static J encode(const p2p::PubKey& key) {
    return key.to_string();
  }
};

template <>
struct Codec<util::net::Ipv4Addr> {
  template <class J>
  static util::net::Ipv4Addr decode(const J& value) {
    return decode_text(value, "an IPv4 address such as 10.44.0.1", util::net::parse_ipv4_addr);
  }
  template <class J>
  static J encode(const util::net::Ipv4Addr& address) {
    return address.to_string();
  }
};

template <>
struct Codec<util::net::Ipv4Net> {
  template <class J>
  static util::net::Ipv4Net decode(const J& value) {
    return decode_text(value, "an IPv4 network such as 10.44.0.0/24", util::net::Ipv4Net::parse);
  }
  template <class J>
  static J encode(const util::net::Ipv4Net& network) {
    return network.to_string();
  }
};

template <>
struct Codec<boost::uuids::uuid> {
  template <class J>
  static boost::uuids::uuid decode(const J& value) {
    return decode_text(value, "a UUID", parse_uuid);
  }
  template <class J>
  static J encode(const boost::uuids::uuid& id) {
    return uuid_text(id);
  }
};

}  // namespace valdori::agent::json_doc
