#include "agent/agent/firewall/agent_firewall.hpp"

#include <algorithm>
#include <memory>
#include <string_view>
#include <vector>

#include "agent/agent/firewall/tries.hpp"
#include "agent/agent/inner/agent_inner.hpp"
#include "agent/network/config/routing_tries.hpp"
#include "overlay_node/node/span_log.hpp"
#include "util/log/log.hpp"
#include "util/text/debug_string.hpp"
#include "util/url/mask_url.hpp"

namespace valdori::agent::firewall {
namespace {

using network::config::RoutingTrie;
using network::config::RoutingTries;
using util::net::TwoLevelPrefixMapBuilder;
using util::text::debug_string;
using SendHandlePtr = std::shared_ptr<p2p::node::SendHandle>;

spdlog::logger& lg() { return log::module_logger<"valdori_agent::agent::firewall">(); }

// The map's own order is unspecified and may change as networks come and go; sorting by URL
// makes the winner of an overlap the same on every rebuild.
std::vector<const NetworkMap::value_type*> in_url_order(const NetworkMap& networks) {
  std::vector<const NetworkMap::value_type*> ordered;
  ordered.reserve(networks.size());
  for (const auto& entry : networks) ordered.push_back(&entry);
  std::sort(ordered.begin(), ordered.end(),
            [](const auto* a, const auto* b) { return a->first.as_string() < b->first.as_string(); });
  return ordered;
}

void warn_overlap(std::string_view side, const util::Url& url, Ipv4Net source, Ipv4Net dest, const p2p::PubKey& kept,
                  const p2p::PubKey& ignored) {
  VLOG_AT_FIELDS(lg(), log::Level::warn,
                 (log::Fields{{"network", debug_string(util::mask_url(url))},
                              {"source_net", source.to_string()},
                              {"dest_net", dest.to_string()},
                              {"peer", ignored.to_string()}}),
                 "Overlapping {} route {} -> {}: keeping peer {} of an earlier network, ignoring peer {} of {}", side,
                 source, dest, kept, ignored, util::mask_url(url));
}

// `rules`: destination network, then source network, to peer.
void add_tx_routes(const valdori::node::Node& node, const RoutingTrie& rules, const util::Url& url,
                   TwoLevelPrefixMapBuilder<SendHandlePtr>& tx) {
  for (const auto& [dest, sources] : rules.entries()) {
    VLOG_AT_FIELDS(lg(), log::Level::trace, (log::Fields{{"dest_net", dest.to_string()}}),
                   "Building TX trie for dest network");
    // Created even when every source below is refused: packets to `dest` then stop at the
    // second level instead of matching a wider destination.
    auto& inner = tx.inner(dest);
    for (const auto& [source, peer] : sources.entries()) {
      auto handle = node.send_handle(peer);
      if (!handle) continue;
      const auto [stored, added] = inner.try_emplace(source, std::move(*handle));
      if (!added) {
        if (stored->recipient() != peer) warn_overlap("TX", url, source, dest, stored->recipient(), peer);
        continue;
      }
      VLOG_AT_FIELDS(
          lg(), log::Level::trace,
          (log::Fields{{"dest_net", dest.to_string()}, {"source_net", source.to_string()}, {"peer", peer.to_string()}}),
          "Added TX route: {} -> {} via peer {}", source, dest, peer);
    }
  }
}

// `rules`: source network, then destination network, to peer.
void add_rx_routes(const RoutingTrie& rules, const util::Url& url, TwoLevelPrefixMapBuilder<p2p::PubKey>& rx) {
  for (const auto& [source, dests] : rules.entries()) {
    VLOG_AT_FIELDS(lg(), log::Level::trace, (log::Fields{{"source_net", source.to_string()}}),
                   "Building RX trie for source network");
    auto& inner = rx.inner(source);
    for (const auto& [dest, peer] : dests.entries()) {
      const auto [stored, added] = inner.try_emplace(dest, peer);
      if (!added) {
        if (stored != peer) warn_overlap("RX", url, source, dest, stored, peer);
        continue;
      }
      VLOG_AT_FIELDS(
          lg(), log::Level::trace,
          (log::Fields{{"source_net", source.to_string()}, {"dest_net", dest.to_string()}, {"peer", peer.to_string()}}),
          "Added RX route: {} -> {} from peer {} to TUN device", source, dest, peer);
    }
  }
}

// The peers that `tries` let this node exchange packets with.
void add_members(const RoutingTries& tries, p2p::node::MemberKeys& members) {
  for (const auto& [dest, sources] : tries.outbound.entries())
    for (const auto& [source, peer] : sources.entries()) members.insert(peer);
  for (const auto& [source, dests] : tries.inbound.entries())
    for (const auto& [dest, peer] : dests.entries()) members.insert(peer);
}

void rebuild_tries(AgentInner& inner, const NetworkMap& networks) {
  VLOG_TRACE(lg(), "Rebuild tries");
  TwoLevelPrefixMapBuilder<SendHandlePtr> tx;
  TwoLevelPrefixMapBuilder<p2p::PubKey> rx;
  // The node keeps room for these peers first: every other sender is a stranger to it.
  auto members = std::make_shared<p2p::node::MemberKeys>();
  for (const auto* entry : in_url_order(networks)) {
    const auto& [url, network] = *entry;
    const auto& rules = network.current_state.access_rules.applied;
    if (!rules) {
      VLOG_AT_FIELDS(lg(), log::Level::trace,
                     (log::Fields{{"network", debug_string(util::mask_url(network.config_url))}}),
                     "No access rules available for network");
      continue;
    }
    const RoutingTries tries = rules->routing_tries();
    VLOG_AT_FIELDS(lg(), log::Level::trace, (log::Fields{{"network", debug_string(util::mask_url(url))}}),
                   "Processing access rules for network");
    add_tx_routes(*inner.node, tries.outbound, url, tx);
    add_rx_routes(tries.inbound, url, rx);
    add_members(tries, *members);
  }
  inner.node->inner()->set_members(std::move(members));
  auto tx_trie = std::make_shared<const TxTrie>(std::move(tx).build());
  auto rx_trie = std::make_shared<const RxTrie>(std::move(rx).build());
  VLOG_TRACE(lg(), "Tries rebuilt successfully.");
  inner.tx_trie.store(std::move(tx_trie));
  inner.rx_trie.store(std::move(rx_trie));
}

}  // namespace

void apply_desired_state(AgentInner& inner, NetworkMap& networks, const util::Url& url) {
  const auto found = networks.find(url);
  if (found == networks.end()) return;
  auto& current = found->second.current_state.access_rules;
  const auto& desired = found->second.desired_state.access_rules;
  if (current == desired) return;
  VLOG_TRACE(lg(), "Access rules change: current=\n{}; desired=\n{}", display(current), display(desired));
  current = desired;
  update_tries(inner, networks);
}

void update_tries(AgentInner& inner, const NetworkMap& networks) {
  // The rebuild never suspends, so the events of every logger inside it belong to the span.
  const valdori::node::SpanLog span(lg(), "update_tries");
  span.within([&] { rebuild_tries(inner, networks); });
}

}  // namespace valdori::agent::firewall
