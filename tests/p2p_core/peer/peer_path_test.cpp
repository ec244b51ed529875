// The path rules: reachability, staleness, latency samples and ranking.
#include <gtest/gtest.h>

#include "p2p_core/peer/path_pairing.hpp"
#include "p2p_core/peer/peer_path.hpp"
#include "tests/p2p_core/node/node_fixture.hpp"

namespace valdori::p2p::node_test {
namespace {

using peer::PeerPath;
using peer::PeerPathKey;

struct Event {
  enum Kind { Hello, Ack } kind;
  std::uint64_t at;            // ms after kStart
  std::uint64_t hello_at = 0;  // for an ACK: the echoed HELLO time, ms after kStart
};

TEST(PeerPathRules, ReachableAndStaleFollowHellosAndAcks) {
  struct Case {
    const char* name;
    std::vector<Event> events;
    std::uint64_t check_at;
    bool reachable;
    bool stale;
  };
  const std::uint64_t t = kHelloTimeout;
  const Case cases[] = {
      {"never greeted", {}, 10 * t, false, false},
      {"greeted, deadline not yet passed", {{Event::Hello, 0}}, t, false, false},
      {"greeted, deadline passed", {{Event::Hello, 0}}, t + 1, false, true},
      {"greeted again does not move the deadline", {{Event::Hello, 0}, {Event::Hello, t / 2}}, t + 1, false, true},
      {"answered, within the timeout", {{Event::Hello, 0}, {Event::Ack, 100, 0}}, 100 + t, true, false},
      {"answered, timeout passed", {{Event::Hello, 0}, {Event::Ack, 100, 0}}, 100 + t + 1, false, false},
      {"answered, then greeted and not answered",
       {{Event::Hello, 0}, {Event::Ack, 100, 0}, {Event::Hello, 2 * t}},
       3 * t + 1,
       false,
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PeerPath path;
    for (const auto& e : c.events) {
      if (e.kind == Event::Hello)
        path.hello_tx(kStart + e.at, us(kStart + e.at));
      else
        path.ack_rx(us(kStart + e.at), kStart + e.hello_at, addr("127.0.0.1", 1));
    }
    EXPECT_EQ(path.is_reachable(kStart + c.check_at, t), c.reachable);
    EXPECT_EQ(path.is_stale(kStart + c.check_at, t), c.stale);
  }
}

TEST(PeerPathRules, AckRecordsLatencyAndAnswersTheHello) {
  PeerPath path;
  EXPECT_FALSE(path.inner()->hello.has_value());
  path.hello_tx(kStart, us(kStart));
  EXPECT_EQ(path.inner()->hello, kStart);
  for (std::uint64_t i = 1; i <= peer::kMaxLatencySamples + 1; ++i) {
    path.hello_tx(kStart + i, us(kStart));
    path.ack_rx(us(kStart + i), kStart + i, addr("127.0.0.1", 1));
  }
  path.ack_rx(us(kStart + 100), kStart + peer::kMaxLatencySamples + 1, addr("127.0.0.1", 1));  // repeated: no sample
  const auto inner = path.inner();
  EXPECT_EQ(inner->hello, 0u);
  ASSERT_EQ(inner->latencies.size(), peer::kMaxLatencySamples);
  EXPECT_EQ(inner->latencies.front(), us(2));  // the oldest sample went
  EXPECT_EQ(inner->latencies.back(), us(peer::kMaxLatencySamples + 1));
  EXPECT_EQ(inner->last_ack, kStart + 100);
}

TEST(PeerPathRules, LatencyIsMeasuredInMicroseconds) {
  struct Sent {
    std::int64_t time;   // ms of the wall clock after kStart
    std::uint64_t left;  // µs of the interval clock after kStart
  };
  struct Case {
    const char* name;
    std::vector<Sent> hellos;
    std::int64_t echoed;     // ms after kStart
    std::uint64_t received;  // µs after kStart
    std::vector<std::uint64_t> latencies;
  };
  const Case cases[] = {
      {"the latest HELLO, from the moment it left", {{0, 250}}, 0, 600, {350}},
      {"below a millisecond across a millisecond boundary", {{0, 900}}, 0, 1100, {200}},
      {"an earlier HELLO, from the moment it left", {{0, 250}, {10, 10'250}}, 0, 12'400, {12'150}},
      {"HELLOs sent after the wall clock stepped back 31.3 s", {{-31'300, 250}, {-31'299, 5'250}}, -31'300, 600, {350}},
      {"a HELLO never recorded: no sample", {}, 3, 3'080, {}},
      {"a HELLO among more than the last few: no sample", {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}}, 0, 600, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PeerPath path;
    for (const auto& hello : c.hellos)
      path.hello_tx(static_cast<std::uint64_t>(static_cast<std::int64_t>(kStart) + hello.time),
                    us(kStart) + hello.left);
    path.ack_rx(us(kStart) + c.received, static_cast<std::uint64_t>(static_cast<std::int64_t>(kStart) + c.echoed),
                addr("127.0.0.1", 1));
    EXPECT_EQ(path.inner()->latencies, c.latencies);
    EXPECT_EQ(path.inner()->last_ack, kStart + c.received / 1000);
  }
}

TEST(PeerPathRules, MedianLatency) {
  struct Case {
    std::vector<std::uint64_t> samples;
    std::optional<std::uint64_t> median;
  };
  const Case cases[] = {{{}, std::nullopt}, {{5}, 5}, {{3, 1, 2}, 2}, {{1000, 2001}, 1500}, {{9, 1, 4, 2}, 3}};
  for (const auto& c : cases) {
    peer::PeerPathInner inner;
    inner.latencies = c.samples;
    EXPECT_EQ(inner.median_latency(), c.median);
  }
}

TEST(PeerPathRules, RankingPutsReachablePathsFirstByLatency) {
  peer::PathMap paths;
  const auto add = [&](std::uint16_t port, std::optional<std::uint64_t> latency) {
    const PeerPathKey key{addr("127.0.0.1", 1), addr("127.0.0.1", port)};
    auto path = std::make_shared<PeerPath>();
    if (latency) {
      path->hello_tx(kStart, us(kStart - *latency));
      path->ack_rx(us(kStart), kStart, key.remote);
    }
    paths.get_or_insert(key, [&] { return path; });
  };
  add(4, std::nullopt);  // never answered
  add(1, 50);
  add(3, std::nullopt);
  add(2, 10);
  std::vector<std::uint16_t> order;
  for (const auto& [key, path] : peer::rank_paths(paths, kStart, kHelloTimeout)) order.push_back(key.remote.port());
  EXPECT_EQ(order, (std::vector<std::uint16_t>{2, 1, 3, 4}));
}

TEST(PathPairing, LocalAndRemoteAddressesPair) {
  struct Case {
    const char* local;
    const char* remote;
    bool pairs;
  };
  const Case cases[] = {
      {"127.0.0.1", "127.0.0.2", true},     {"127.0.0.1", "192.0.2.1", false}, {"192.168.1.5", "192.0.2.1", true},
      {"192.168.1.5", "127.0.0.1", false},  {"::1", "127.0.0.1", false},       {"2001:db8::1", "192.0.2.1", false},
      {"2001:db8::1", "2001:db8::2", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(peer::can_pair(boost::asio::ip::make_address(c.local), boost::asio::ip::make_address(c.remote)), c.pairs)
        << c.local << " -> " << c.remote;
  }
}

TEST(PathPairing, OneKeyPerLocalAddressAndReachableRemote) {
  const auto local = addr("127.0.0.1", 4000);
  // Two sockets share the address (SO_REUSEPORT): one path each remote, not two.
  const node::UdpBindings bindings{binding_at(local), binding_at(local)};
  const std::vector<net::SocketAddr> remotes{addr("127.0.0.1", 9), addr("192.0.2.1", 9)};
  EXPECT_EQ(peer::path_keys_for(bindings, remotes), (std::vector<PeerPathKey>{{local, addr("127.0.0.1", 9)}}));
}

TEST(PathPairing, PathsWithoutBindingAreRemoved) {
  peer::PathMap paths;
  const PeerPathKey kept{addr("127.0.0.1", 4000), addr("127.0.0.1", 9)};
  const PeerPathKey gone{addr("127.0.0.1", 4001), addr("127.0.0.1", 9)};
  for (const auto& key : {kept, gone}) paths.get_or_insert(key, [] { return std::make_shared<PeerPath>(); });
  EXPECT_EQ(peer::remove_paths_without_binding(paths, {binding_at(kept.local)}), std::vector<PeerPathKey>{gone});
  EXPECT_EQ(paths.size(), 1u);
  EXPECT_TRUE(paths.find(kept));
}

}  // namespace
}  // namespace valdori::p2p::node_test
