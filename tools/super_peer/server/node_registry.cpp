#include "tools/super_peer/server/node_registry.hpp"

#include <algorithm>

#include "tools/super_peer/server/tcp_link.hpp"

namespace valdori::super_peer {

std::vector<p2p::net::SocketAddr> RegisteredNode::endpoints() const {
  std::vector<p2p::net::SocketAddr> all;
  for (const auto& source : observed) all.push_back(source.addr);
  for (const auto& candidate : candidates) {
    if (std::ranges::find(all, candidate) == all.end()) all.push_back(candidate);
  }
  return all;
}

std::optional<Route> RegisteredNode::route(Clock::time_point now) const {
  const auto answers = [&](Clock::time_point heard) { return now - heard < kSourceSilence; };
  auto open_link = link.lock();
  if (open_link && !open_link->is_open()) open_link.reset();
  if (open_link && answers(link_heard)) return Route{open_link};
  const auto answering = std::ranges::find_if(observed, [&](const auto& source) { return answers(source.last_heard); });
  if (answering != observed.end()) return Route{answering->addr};
  if (open_link) return Route{std::move(open_link)};
  if (observed.empty()) return std::nullopt;
  return Route{std::ranges::max_element(observed, {}, &ObservedSource::last_heard)->addr};
}

void RegisteredNode::observe_udp_source(const p2p::net::SocketAddr& source, Clock::time_point now) {
  const auto known = std::ranges::find(observed, source, &ObservedSource::addr);
  if (known != observed.end()) {
    known->last_heard = now;
    return;
  }
  if (observed.size() < NodeRegistry::kMaxObserved) {
    observed.push_back({source, now});
    return;
  }
  const auto quietest = std::ranges::min_element(observed, {}, &ObservedSource::last_heard);
  if (now - quietest->last_heard >= kSourceSilence) {
    observed.erase(quietest);
    observed.push_back({source, now});
  }
}

void RegisteredNode::observe_link(const std::shared_ptr<TcpLink>& arrival, Clock::time_point now) {
  const auto current = link.lock();
  if (current && current != arrival && current->is_open() && now - link_heard < kSourceSilence) return;
  link = arrival;
  link_heard = now;
}

NodeRegistry::NodeRegistry(std::size_t capacity, Clock::duration live_for) : nodes_(capacity), live_for_(live_for) {}

bool NodeRegistry::has_room(Clock::time_point now) const {
  const auto* stalest = nodes_.oldest();
  return nodes_.size() < nodes_.capacity() || now - stalest->second.last_seen >= live_for_;
}

RegisteredNode& NodeRegistry::record(const p2p::PubKey& pk, Clock::time_point now) {
  RegisteredNode& node = nodes_.get_or_insert(pk, [] { return RegisteredNode{}; });
  node.last_seen = now;
  return node;
}

}  // namespace valdori::super_peer
