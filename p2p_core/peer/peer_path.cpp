#include "p2p_core/peer/peer_path.hpp"

#include <algorithm>

#include <boost/container_hash/hash.hpp>

#include "p2p_core/node/clock.hpp"

namespace valdori::p2p::peer {

std::string PeerPathKey::to_string() const { return fmt::format("{}->{}", local, remote); }

std::optional<std::uint64_t> PeerPathInner::median_latency() const {
  if (latencies.empty()) return std::nullopt;
  auto sorted = latencies;
  std::ranges::sort(sorted);
  const std::size_t middle = sorted.size() / 2;
  if (sorted.size() % 2 == 1) return sorted[middle];
  return (sorted[middle - 1] + sorted[middle]) / 2;
}

void PeerPath::hello_tx(std::uint64_t hello_time, std::uint64_t now_us) {
  inner_.update([&](PeerPathInner& path) {
    if (path.hello.value_or(0) == 0) path.hello = now_us / 1000;
    if (path.sent_hellos.size() == kMaxSentHellos) path.sent_hellos.erase(path.sent_hellos.begin());
    path.sent_hellos.push_back({hello_time, now_us});
    return true;
  });
}

void PeerPath::ack_rx(std::uint64_t now_us, std::uint64_t hello_time, const net::SocketAddr& source) {
  inner_.update([&](PeerPathInner& path) {
    const auto sent = std::ranges::find(path.sent_hellos, hello_time, &PeerPathInner::SentHello::time);
    if (sent != path.sent_hellos.end()) {  // one sample per HELLO: a repeated ACK adds none
      if (path.latencies.size() == kMaxLatencySamples) path.latencies.erase(path.latencies.begin());
      path.latencies.push_back(now_us > sent->left_us ? now_us - sent->left_us : 0);
      path.sent_hellos.erase(sent);
    }
    path.hello = 0;
    path.last_ack_src = source;
    path.last_ack = now_us / 1000;
    return true;
  });
}

bool is_reachable(const PeerPathInner& path, std::uint64_t now, std::uint64_t hello_timeout) {
  return path.last_ack != 0 && node::elapsed_ms(now, path.last_ack) <= hello_timeout;
}

bool PeerPath::is_reachable(std::uint64_t now, std::uint64_t hello_timeout) const {
  return peer::is_reachable(*inner(), now, hello_timeout);
}

bool PeerPath::is_stale(std::uint64_t now, std::uint64_t hello_timeout) const {
  const std::uint64_t hello = inner()->hello.value_or(0);
  return hello != 0 && node::elapsed_ms(now, hello) > hello_timeout;
}

std::size_t PeerPathKeyHash::operator()(const PeerPathKey& key) const noexcept {
  std::size_t seed = 0;
  for (const auto* addr : {&key.local, &key.remote}) {
    boost::hash_combine(seed, addr->port());
    if (addr->address().is_v4()) {
      boost::hash_combine(seed, addr->address().to_v4().to_uint());
    } else {
      const auto v6 = addr->address().to_v6();
      const auto bytes = v6.to_bytes();
      boost::hash_combine(seed, boost::hash_range(bytes.begin(), bytes.end()));
      boost::hash_combine(seed, v6.scope_id());
    }
  }
  return seed;
}

}  // namespace valdori::p2p::peer
