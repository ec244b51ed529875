// Errors of peers: building a super peer's key agreement and resolving its host name.
#pragma once

#include <cstdint>
#include <string>

#include "p2p_core/crypto/error.hpp"
#include "p2p_core/error/enumeration.hpp"

namespace valdori::p2p::peer::error {

// Kinds, in the enumeration's order.
struct Crypto {
  crypto::error::Error error;
};
struct AgreementPkNotPresent {};
struct AgreementSkNotPresent {};
struct SuperPeerLookupFailed {
  std::string host;
  std::string failure;
};
struct SuperPeerResolveTimeout {
  std::string host;
  std::uint64_t limit_ms;
};
struct SuperPeerResolveEmpty {};

class Error : public ErrorEnumeration<Crypto, AgreementPkNotPresent, AgreementSkNotPresent, SuperPeerLookupFailed,
                                      SuperPeerResolveTimeout, SuperPeerResolveEmpty> {
 public:
  using ErrorEnumeration::ErrorEnumeration;
};

// Debug form: "SuperPeerResolveTimeout(\"sp.example:4000\", 5000)", "SuperPeerResolveEmpty".
std::string debug(const Error& e);
// Display form: one line naming the failure with its payload.
std::string display(const Error& e);

}  // namespace valdori::p2p::peer::error
