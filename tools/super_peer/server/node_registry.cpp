#include "tools/super_peer/server/node_registry.hpp"

#include <algorithm>

#include "tools/super_peer/server/tcp_link.hpp"

namespace valdori::super_peer {
namespace {

// Whether a path last heard at `heard` still answers.
bool answers(Clock::time_point heard, Clock::time_point now) { return now - heard < RegisteredNode::kSourceSilence; }

}  // namespace

std::vector<p2p::net::SocketAddr> RegisteredNode::endpoints() const {
  std::vector<p2p::net::SocketAddr> all;
  for (const auto& source : observed) all.push_back(source.addr);
  for (const auto& candidate : candidates) {
    if (std::ranges::find(all, candidate) == all.end()) all.push_back(candidate);
  }
  return all;
}

std::optional<Route> RegisteredNode::route(Clock::time_point now) const {
  auto open_link = link.lock();
  if (open_link && !open_link->is_open()) open_link.reset();
  if (open_link && answers(link_heard, now)) return Route{open_link};
  const auto answering =
      std::ranges::find_if(observed, [&](const auto& source) { return answers(source.last_heard, now); });
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
  if (!answers(quietest->last_heard, now)) {
    observed.erase(quietest);
    observed.push_back({source, now, hello_time});
  }
}

void RegisteredNode::observe_link(const std::shared_ptr<TcpLink>& arrival, std::uint64_t hello_time,
                                  Clock::time_point now) {
  // The node gives each HELLO a time of its own: one over another link no newer than the last
  // that a path of the node's carried within kSourceSilence (its link, even closed, or a source)
  // is a replay. Its own link may carry an older one: the node's clock stepped back.
  const auto carried_no_older = [&](Clock::time_point heard, std::uint64_t time) {
    return answers(heard, now) && time >= hello_time;
  };
  const bool replayed =
      carried_no_older(link_heard, link_hello_time) || std::ranges::any_of(observed, [&](const auto& source) {
        return carried_no_older(source.last_heard, source.hello_time);
      });
  if (replayed && link.lock() != arrival) return;
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
