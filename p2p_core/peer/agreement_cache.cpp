#include "p2p_core/peer/agreement_cache.hpp"

namespace valdori::p2p::peer {

AgreementCache::AgreementCache(const AgreementKeys& own, std::size_t capacity) : own_(own), agreements_(capacity) {}

std::optional<Agreement> AgreementCache::find(const PubKey& peer) {
  const std::lock_guard lock(mutex_);
  const Agreement* known = agreements_.find(peer);
  if (!known) return std::nullopt;
  return *known;
}

Agreement AgreementCache::agree(const PubKey& peer) {
  const Agreement agreed = peer::agree(own_, peer);
  const std::lock_guard lock(mutex_);
  agreements_.get_or_insert(peer, [&] { return agreed; }) = agreed;
  return agreed;
}

}  // namespace valdori::p2p::peer
