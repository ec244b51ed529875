// One way of reaching a peer, and what the node has learnt about it from HELLOs and ACKs.
//
// Path rules (times in milliseconds of the node's interval clock, clock.hpp; HELLO times are
// the wall clock's):
// - Reachable: the last ACK on the path is at most `hello_timeout` old.
// - Stale: the oldest unanswered HELLO is more than `hello_timeout` old, i.e. the path was
//   greeted and not answered in time. A path never greeted is not stale.
// - A HELLO marks the path as awaiting an answer only when none is outstanding, so that HELLOs
//   sent every pass do not push the deadline back. An ACK answers it and adds a latency sample in
//   microseconds, from the moment the echoed HELLO left to the ACK's arrival, both read on the
//   interval clock, when that HELLO is among the last few sent over the path; an ACK of an older
//   HELLO, or of one whose leaving was not recorded, adds none. A HELLO's time is the wall
//   clock's, which may have stepped since: it only names the HELLO.
// - Ranking: reachable paths before the others; among reachable ones the lower median latency
//   first (paths without samples after those with); ties and unreachable paths by key.
#pragma once

#include <algorithm>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "p2p_core/concurrent/atomic_snapshot.hpp"
#include "p2p_core/concurrent/snapshot_map.hpp"
#include "p2p_core/net/socket_addr.hpp"

namespace valdori::p2p::peer {

// A UDP path: the node's local socket address (it selects the socket), then the remote one.
struct PeerPathKey {
  net::SocketAddr local;
  net::SocketAddr remote;

  bool operator==(const PeerPathKey&) const = default;
  bool operator<(const PeerPathKey& other) const {
    return local != other.local ? local < other.local : remote < other.remote;
  }
  // "192.0.2.1:4000->198.51.100.7:4000".
  std::string to_string() const;
};

inline constexpr std::size_t kMaxLatencySamples = 10;
// HELLOs whose leaving a path keeps: a pass's HELLO, a greeting back and one after a UNITE may
// leave before the first of them is answered.
inline constexpr std::size_t kMaxSentHellos = 4;

// One path's record, replaced whole on every change.
struct PeerPathInner {
  // Absent: no HELLO sent yet; 0: none outstanding; otherwise when the oldest unanswered HELLO
  // was sent.
  std::optional<std::uint64_t> hello;
  std::vector<std::uint64_t> latencies;  // microseconds, oldest first
  std::optional<net::SocketAddr> last_ack_src;
  std::uint64_t last_ack = 0;  // 0: never
  // A HELLO sent: the time it carries and the moment it left, in µs.
  struct SentHello {
    std::uint64_t time = 0;
    std::uint64_t left_us = 0;
  };
  std::vector<SentHello> sent_hellos;  // the last kMaxSentHellos, oldest first

  // The middle sample; for an even count the integer mean of the two middle ones.
  std::optional<std::uint64_t> median_latency() const;
};

class PeerPath {
 public:
  std::shared_ptr<const PeerPathInner> inner() const { return inner_.load(); }

  // A HELLO carrying `hello_time` (ms of the wall clock) leaves over the path at `now_us`.
  void hello_tx(std::uint64_t hello_time, std::uint64_t now_us);
  // An ACK echoing `hello_time` arrived at `now_us`.
  void ack_rx(std::uint64_t now_us, std::uint64_t hello_time, const net::SocketAddr& source);

  bool is_reachable(std::uint64_t now, std::uint64_t hello_timeout) const;
  bool is_stale(std::uint64_t now, std::uint64_t hello_timeout) const;

 private:
  concurrent::AtomicSnapshot<PeerPathInner> inner_;
};

bool is_reachable(const PeerPathInner& path, std::uint64_t now, std::uint64_t hello_timeout);

struct PeerPathKeyHash {
  std::size_t operator()(const PeerPathKey& key) const noexcept;
};

using PathMap = concurrent::SnapshotMap<PeerPathKey, std::shared_ptr<PeerPath>, PeerPathKeyHash>;
using RankedPath = std::pair<PeerPathKey, std::shared_ptr<PeerPath>>;

// The paths of `paths` (keyed by path key, or by the super peer of a relay path) in ranking
// order (see above).
template <class Key, class Hash>
std::vector<std::pair<Key, std::shared_ptr<PeerPath>>> rank_paths(
    const concurrent::SnapshotMap<Key, std::shared_ptr<PeerPath>, Hash>& paths, std::uint64_t now,
    std::uint64_t hello_timeout) {
  struct Ranked {
    std::pair<Key, std::shared_ptr<PeerPath>> path;
    bool unreachable;
    std::uint64_t latency;  // the median, or the largest value when there is none
  };
  std::vector<Ranked> ranked;
  const auto snapshot = paths.snapshot();
  for (const auto& [key, path] : *snapshot) {
    const auto inner = path->inner();
    const bool reachable = is_reachable(*inner, now, hello_timeout);
    const auto median = reachable ? inner->median_latency() : std::nullopt;
    ranked.push_back({{key, path}, !reachable, median.value_or(UINT64_MAX)});
  }
  std::ranges::sort(ranked, [](const Ranked& a, const Ranked& b) {
    if (a.unreachable != b.unreachable) return b.unreachable;
    if (a.latency != b.latency) return a.latency < b.latency;
    return a.path.first < b.path.first;
  });
  std::vector<std::pair<Key, std::shared_ptr<PeerPath>>> result;
  result.reserve(ranked.size());
  for (auto& entry : ranked) result.push_back(std::move(entry.path));
  return result;
}

}  // namespace valdori::p2p::peer

template <>
struct fmt::formatter<valdori::p2p::peer::PeerPathKey> : fmt::formatter<std::string_view> {
  auto format(const valdori::p2p::peer::PeerPathKey& key, fmt::format_context& ctx) const {
    return fmt::formatter<std::string_view>::format(key.to_string(), ctx);
  }
};
