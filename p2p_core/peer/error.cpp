#include "p2p_core/peer/error.hpp"

#include <fmt/format.h>

#include "p2p_core/error/debug_form.hpp"
#include "util/overloaded.hpp"
#include "util/text/debug_string.hpp"

namespace valdori::p2p::peer::error {

std::string debug(const Error& e) {
  using debug_form::tuple;
  return e.visit(util::Overloaded{
      [](const Crypto& k) { return tuple("Crypto", {crypto::error::debug(k.error)}); },
      [](const AgreementPkNotPresent&) { return tuple("AgreementPkNotPresent", {}); },
      [](const AgreementSkNotPresent&) { return tuple("AgreementSkNotPresent", {}); },
      [](const SuperPeerLookupFailed& k) {
        return tuple("SuperPeerLookupFailed", {debug_form::str(k.host), debug_form::str(k.failure)});
      },
      [](const SuperPeerResolveTimeout& k) {
        return tuple("SuperPeerResolveTimeout", {debug_form::str(k.host), std::to_string(k.limit_ms)});
      },
      [](const SuperPeerResolveEmpty&) { return tuple("SuperPeerResolveEmpty", {}); },
  });
}

std::string display(const Error& e) {
  return e.visit(util::Overloaded{
      [](const Crypto& k) { return "Crypto error: " + crypto::error::display(k.error); },
      [](const AgreementPkNotPresent&) { return std::string("Key agreement public key not present"); },
      [](const AgreementSkNotPresent&) { return std::string("Key agreement secret key not present"); },
      [](const SuperPeerLookupFailed& k) {
        return fmt::format("Failed to resolve super peer {}: {}", util::text::escape_controls(k.host), k.failure);
      },
      [](const SuperPeerResolveTimeout& k) {
        return fmt::format("Timeout of {} ms exceeded while resolving super peer {}", k.limit_ms,
                           util::text::escape_controls(k.host));
      },
      [](const SuperPeerResolveEmpty&) { return std::string("Super peer resolved to no address"); },
  });
}

}  // namespace valdori::p2p::peer::error
