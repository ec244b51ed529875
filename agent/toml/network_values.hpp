// Readers of the address, network, public-key, UUID and super-peer values of network documents:
// each is a TOML string in its text form; text that does not parse is an invalid value at its
// position, and a rejected super-peer URL carries the URL parser's message.
#pragma once

#include <stdexcept>
#include <string>

#include <toml++/toml.h>
#include <boost/uuid/string_generator.hpp>
#include <boost/uuid/uuid.hpp>

#include "agent/toml/field.hpp"
#include "p2p_core/crypto/error.hpp"
#include "p2p_core/identity/keys.hpp"
#include "p2p_core/identity/super_peer_url.hpp"
#include "util/net/ipv4_net.hpp"

namespace valdori::agent::toml_doc {

// Dotted quad: "10.44.0.1".
template <>
struct ValueReader<util::net::Ipv4Addr> {
  static ReadResult<util::net::Ipv4Addr> read(const ::toml::node& node) {
    auto text = read_value<std::string>(node);
    if (!text) return text.error();
    if (auto addr = util::net::parse_ipv4_addr(*text)) return *addr;
    return invalid_value(node, "an IPv4 address such as 10.44.0.1");
  }
};

// Address and prefix length: "10.44.0.0/24"; the prefix length is required.
template <>
struct ValueReader<util::net::Ipv4Net> {
  static ReadResult<util::net::Ipv4Net> read(const ::toml::node& node) {
    auto text = read_value<std::string>(node);
    if (!text) return text.error();
    if (auto net = util::net::Ipv4Net::parse(*text)) return *net;
    return invalid_value(node, "an IPv4 network such as 10.44.0.0/24");
  }
};

// The key's text form; a rejected text carries the key parser's own message.
template <>
struct ValueReader<p2p::PubKey> {
  static ReadResult<p2p::PubKey> read(const ::toml::node& node) {
    auto text = read_value<std::string>(node);
    if (!text) return text.error();
    auto key = p2p::PubKey::from_str(*text);
    if (!key) return error_at(node, p2p::crypto::error::display(key.error()));
    return *key;
  }
};

// 32 hexadecimal digits, with or without the four hyphens, optionally in braces.
template <>
struct ValueReader<boost::uuids::uuid> {
  static ReadResult<boost::uuids::uuid> read(const ::toml::node& node) {
    auto text = read_value<std::string>(node);
    if (!text) return text.error();
    try {
      return boost::uuids::string_generator{}(*text);
    } catch (const std::runtime_error&) {
      return invalid_value(node, "a UUID");
    }
  }
};

// A super peer: its URL text.
template <>
struct ValueReader<p2p::SuperPeerUrl> {
  static ReadResult<p2p::SuperPeerUrl> read(const ::toml::node& node) {
    auto text = read_value<std::string>(node);
    if (!text) return text.error();
    auto url = p2p::SuperPeerUrl::try_from(*text);
    if (!url) return error_at(node, p2p::display(url.error()));
    return *url;
  }
};

}  // namespace valdori::agent::toml_doc
