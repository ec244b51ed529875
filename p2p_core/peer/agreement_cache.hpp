// Key agreements with sender keys, remembered. Agreeing on session keys with a key that is not
// stored (key conversion and X25519) costs some twenty times what reading and dropping a junk
// datagram costs, and it has to come before a message body can be authenticated. Without a
// memory, a stranger whose datagrams never authenticate would make the receiver pay it for
// every one. The cache keeps what a key gave, its session keys or the reason it gives none, for
// a bounded number of keys, forgetting the key used least recently, whether or not a message
// of that key ever authenticated.
//
// Any thread may use it: one short lock around each lookup and insert; the agreement itself
// runs unlocked (two threads that miss the same key both agree, and the second result is kept).
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>

#include "p2p_core/identity/keys.hpp"
#include "p2p_core/peer/session_keys.hpp"
#include "util/container/lru_map.hpp"

namespace valdori::p2p::peer {

class AgreementCache {
 public:
  AgreementCache(const AgreementKeys& own, std::size_t capacity);

  // What the agreement with `peer` gave, when it is cached.
  std::optional<Agreement> find(const PubKey& peer);
  // Agrees with `peer` now and caches the outcome, failure included.
  Agreement agree(const PubKey& peer);

 private:
  const AgreementKeys own_;
  std::mutex mutex_;
  util::LruMap<PubKey, Agreement> agreements_;
};

}  // namespace valdori::p2p::peer
