// Key agreement with a peer: the node's own X25519 keys and the session keys they give with one
// peer's public key.
#pragma once

#include <optional>

#include <boost/system/result.hpp>

#include "p2p_core/crypto/error.hpp"
#include "p2p_core/crypto/key_conversion.hpp"
#include "p2p_core/crypto/session_keys.hpp"
#include "p2p_core/identity/identity.hpp"
#include "p2p_core/identity/keys.hpp"
#include "p2p_core/peer/error.hpp"

namespace valdori::p2p::peer {

// The node's own key-agreement keys, the X25519 forms of its identity's keys.
struct AgreementKeys {
  crypto::X25519PubKey pk;
  crypto::X25519SecKey sk;

  static boost::system::result<AgreementKeys, crypto::error::Error> from_identity(const Identity& id);
};

using Agreement = boost::system::result<crypto::SessionKeys, crypto::error::Error>;

// Agrees on session keys with `peer`: fails for a peer key that gives no usable shared secret
// (one that does not convert, or the node's own).
Agreement agree(const AgreementKeys& own, const PubKey& peer);

// The session keys `agreed` gave, or its failure as a Crypto peer error.
boost::system::result<crypto::SessionKeys, error::Error> keys_of(const Agreement& agreed);

// The session keys with `peer`; none when the node arms no messages (it has no agreement keys).
// Fails with Crypto for a peer key that gives no usable shared secret, or that is the node's own.
boost::system::result<std::optional<crypto::SessionKeys>, error::Error> session_keys_for(
    const std::optional<AgreementKeys>& own, const PubKey& peer);

}  // namespace valdori::p2p::peer
