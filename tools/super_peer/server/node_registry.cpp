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
  const bool link_is_newest = std::ranges::none_of(
      observed, [&](const auto& source) { return answers(source.last_heard) && source.hello_time > link_hello_time; });
  if (open_link && answers(link_heard) && link_is_newest) return Route{open_link};
  const auto answering = std::ranges::find_if(observed, [&](const auto& source) { return answers(source.last_heard); });
  if (answering != observed.end()) return Route{answering->addr};
  if (open_link) return Route{std::move(open_link)};
  if (observed.empty()) return std::nullopt;
  return Route{std::ranges::max_element(observed, {}, &ObservedSource::last_heard)->addr};
}

void RegisteredNode::observe_udp_source(const p2p::net::SocketAddr& source, std::uint64_t hello_time,
                                        Clock::time_point now) {
  const auto known = std::ranges::find(observed, source, &ObservedSource::addr);
  if (known != observed.end()) {
    *known = {source, now, hello_time};
    return;
  }
  if (observed.size() < NodeRegistry::kMaxObserved) {
    observed.push_back({source, now, hello_time});
    return;
  }
  const auto quietest = std::ranges::min_element(observed, {}, &ObservedSource::last_heard);
  if (now - quietest->last_heard >= kSourceSilence) {
    observed.erase(quietest);
    observed.push_back({source, now, hello_time});
  }
}

void RegisteredNode::observe_link(const std::shared_ptr<TcpLink>& arrival, std::uint64_t hello_time,
                                  Clock::time_point now) {
  // Closed or not, a link that carried a newer HELLO within kSourceSilence was the node's own:
  // an older one over another link is a replay, or the node's clock stepped back.
  if (link.lock() != arrival && hello_time < link_hello_time && now - link_heard < kSourceSilence) return;
  link = arrival;
  link_heard = now;
  link_hello_time = hello_time;
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
