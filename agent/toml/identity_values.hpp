// The node's identity in the agent configuration: a table with the secret key's text form `sk`
// and the proof of work `pow` (a signed 32-bit integer). The public key is never stored; it is
// derived from the secret key. Public keys are read by network_values.hpp.
#pragma once

#include <cstdint>
#include <string>

#include <toml++/toml.h>

#include "agent/toml/field.hpp"
#include "agent/toml/writer.hpp"
#include "p2p_core/crypto/error.hpp"
#include "p2p_core/identity/identity.hpp"
#include "p2p_core/identity/keys.hpp"

namespace valdori::agent::toml_doc {

// A rejected text carries the key parser's own message.
template <>
struct ValueReader<p2p::SecKey> : TextReader<p2p::SecKey, p2p::SecKey::from_str> {};

// Every value in range is a proof of work; it is checked against the key only by peers.
template <>
struct ValueReader<p2p::Pow> {
  static ReadResult<p2p::Pow> read(const ::toml::node& node) {
    auto value = read_value<std::int32_t>(node);
    if (!value) return value.error();
    return p2p::Pow::from(*value);
  }
};

// Keys other than `sk` and `pow` are ignored.
template <>
struct ValueReader<p2p::Identity> {
  static ReadResult<p2p::Identity> read(const ::toml::node& node) {
    auto table = read_value<const ::toml::table*>(node);
    if (!table) return table.error();
    auto sk = read_required<p2p::SecKey>(**table, "sk");
    if (!sk) return sk.error();
    auto pow = read_required<p2p::Pow>(**table, "pow");
    if (!pow) return pow.error();
    return p2p::Identity(*sk, *pow);
  }
};

// The keys of the identity table, for the caller's "[identity]" header.
inline void write_identity(DocumentWriter& writer, const p2p::Identity& identity) {
  writer.string("sk", identity.sk().to_string());
  writer.integer("pow", identity.pow().value());
}

}  // namespace valdori::agent::toml_doc
