// A node's identity: its secret key, the public key derived from it, and the proof of work that
// makes the public key acceptable to other nodes.
#pragma once

#include <cstdint>

#include <boost/system/result.hpp>

#include "p2p_core/identity/identity_error.hpp"
#include "p2p_core/identity/keys.hpp"

namespace valdori::p2p {

class Identity {
 public:
  // Cannot fail; the proof of work is not checked here (peers check it when they meet the node).
  Identity(const SecKey& sk, Pow pow);

  // Searches, on every core and blocking the calling thread, for a fresh key with a proof of work
  // of at least `difficulty` bits. Difficulties above kMaxGeneratedPowDifficulty fail at once.
  static boost::system::result<Identity, IdentityError> generate(std::uint8_t difficulty);

  const SecKey& sk() const { return sk_; }
  const PubKey& pk() const { return pk_; }
  Pow pow() const { return pow_; }

  bool operator==(const Identity&) const = default;

 private:
  SecKey sk_;
  PubKey pk_;
  Pow pow_;
};

}  // namespace valdori::p2p
