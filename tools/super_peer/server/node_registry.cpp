#include "tools/super_peer/server/node_registry.hpp"

#include <algorithm>

namespace valdori::super_peer {

std::vector<p2p::net::SocketAddr> RegisteredNode::endpoints() const {
  std::vector<p2p::net::SocketAddr> all = observed;
  for (const auto& candidate : candidates) {
    if (std::ranges::find(all, candidate) == all.end()) all.push_back(candidate);
  }
  return all;
}

void RegisteredNode::observe_udp_source(const p2p::net::SocketAddr& source) {
  const auto known = std::ranges::find(observed, source);
  if (known != observed.end()) {
    std::rotate(observed.begin(), known, known + 1);
    return;
  }
  if (observed.size() == NodeRegistry::kMaxObserved) observed.pop_back();
  observed.insert(observed.begin(), source);
}

RegisteredNode* NodeRegistry::find(const p2p::PubKey& pk) {
  const auto it = nodes_.find(pk);
  return it == nodes_.end() ? nullptr : &it->second;
}

RegisteredNode& NodeRegistry::record(const p2p::PubKey& pk, Clock::time_point now) {
  if (nodes_.size() >= kCapacity && !nodes_.contains(pk)) {
    const auto stalest = std::ranges::min_element(nodes_, {}, [](const auto& entry) { return entry.second.last_seen; });
    nodes_.erase(stalest);
  }
  RegisteredNode& node = nodes_[pk];
  node.last_seen = now;
  return node;
}

}  // namespace valdori::super_peer
