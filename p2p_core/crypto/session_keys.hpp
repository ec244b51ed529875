// Session keys of a pair of nodes, agreed from their X25519 keys.
#pragma once

#include <array>
#include <cstdint>

#include <boost/system/result.hpp>

#include "p2p_core/crypto/error.hpp"
#include "p2p_core/crypto/key_conversion.hpp"

namespace valdori::p2p::crypto {

using SessionKey = std::array<std::uint8_t, 32>;

struct SessionKeys {
  SessionKey rx;  // disarms what the peer sends
  SessionKey tx;  // arms what we send to the peer
};

// Both ends derive matching keys (one's tx is the other's rx): the end with the smaller public key
// takes the client role. Equal public keys leave no role to choose (SessionKeysIdentical); a peer
// key that gives no usable shared secret fails with DalekError.
boost::system::result<SessionKeys, error::Error> compute_kx_session_keys(const X25519PubKey& own_pk,
                                                                         const X25519SecKey& own_sk,
                                                                         const X25519PubKey& peer_pk);

}  // namespace valdori::p2p::crypto
