// The firewall of the packet path: two two-level prefix tries, an allow-list each. Whatever no
// entry allows is dropped. Both are immutable once built and published whole, so every packet
// reads them through one snapshot load, without a lock.
#pragma once

#include <memory>

#include "p2p_core/identity/keys.hpp"
#include "p2p_core/node/send_handle.hpp"
#include "util/net/ipv4_net.hpp"
#include "util/net/ipv4_prefix_map.hpp"

namespace valdori::agent::firewall {

using util::net::Ipv4Addr;
using util::net::Ipv4Net;

// Tunnel to overlay: destination network, then source network, to the send handle of the peer
// that carries the traffic. Each entry keeps its handle alive.
using TxTrie = util::net::Ipv4PrefixMap<util::net::Ipv4PrefixMap<std::shared_ptr<p2p::node::SendHandle>>>;
// Overlay to tunnel: source network, then destination network, to the only peer allowed to
// deliver the traffic.
using RxTrie = util::net::Ipv4PrefixMap<util::net::Ipv4PrefixMap<p2p::PubKey>>;

// Outcome of a two-level lookup: the first level picks only its longest match, and a miss in
// that entry's inner trie is final.
template <class V>
struct TrieMatch {
  const Ipv4Net* outer_net = nullptr;  // the matched first-level network; null on a first-level miss
  const V* value = nullptr;            // null on any miss
};

template <class V>
TrieMatch<V> lookup(const util::net::Ipv4PrefixMap<util::net::Ipv4PrefixMap<V>>& trie, Ipv4Addr outer,
                    Ipv4Addr inner) noexcept {
  const auto* entry = trie.lookup_entry(outer);
  if (entry == nullptr) return {};
  return {&entry->net, entry->value.lookup(inner)};
}

}  // namespace valdori::agent::firewall
