// Conversion of a node's Ed25519 identity keys into the X25519 keys used for key agreement.
#pragma once

#include <array>
#include <cstdint>

#include <boost/system/result.hpp>

#include "p2p_core/crypto/error.hpp"
#include "p2p_core/identity/keys.hpp"

namespace valdori::p2p::crypto {

using X25519PubKey = std::array<std::uint8_t, 32>;
using X25519SecKey = std::array<std::uint8_t, 32>;

boost::system::result<X25519SecKey, error::Error> convert_ed25519_sk_to_curve25519_sk(const SecKey& sk);
// Fails with DalekError for bytes that are not a usable Ed25519 point (for example a small-order one).
boost::system::result<X25519PubKey, error::Error> convert_ed25519_pk_to_curve25519_pk(const PubKey& pk);

}  // namespace valdori::p2p::crypto
