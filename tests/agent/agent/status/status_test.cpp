// The snapshot's records made from the overlay node's peers and paths.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include "tests/agent/agent/status/status_fixture.hpp"

namespace valdori::agent::status {
namespace {

using namespace test;

constexpr std::uint64_t kStartMs = kNow / 1000;

TEST(StatusRecords, PathTimesInMicrosecondsOfTheWallClockAndLatenciesAsMeasured) {
  p2p::peer::PeerPath path;
  path.hello_tx(kStartMs, kStartMs * 1000 + 100);
  path.ack_rx(kStartMs * 1000 + 450, kStartMs, addr("192.0.2.1", 4000));  // 350 µs: a LAN
  path.hello_tx(kStartMs + 5, kStartMs * 1000 + 5000);
  const std::int64_t wall_ahead_ms = -30'000;  // the wall clock stepped back 30 s
  const PathStatus status = PathStatus::of(*path.inner(), wall_ahead_ms);
  EXPECT_EQ(status.latencies, std::vector<std::uint64_t>{350});
  EXPECT_EQ(status.hello, (kStartMs + 5 - 30'000) * 1000);
  EXPECT_EQ(status.last_ack, (kStartMs - 30'000) * 1000);
  EXPECT_EQ(status.last_ack_src, addr("192.0.2.1", 4000));
  EXPECT_EQ(PathStatus::of(p2p::peer::PeerPathInner{}, wall_ahead_ms).last_ack, 0u);  // never stays never
}

TEST(StatusRecords, ResolvedAddressesStayAsTheSuperPeerHasThem) {
  const auto url = p2p::SuperPeerUrl::try_from(
      fmt::format("udp://sp.example:22527?publicKey={}&networkId=7&tcpPort=443", key(0x11).to_string()));
  ASSERT_TRUE(url);
  const std::optional<p2p::peer::ResolvedAddrs> cases[] = {std::nullopt, p2p::peer::ResolvedAddrs{},
                                                           p2p::peer::ResolvedAddrs{addr("192.0.2.1", 22527)}};
  for (const auto& resolved : cases) {
    const p2p::peer::SuperPeer super_peer(*url, std::nullopt, resolved);
    const SuperPeerStatus status = SuperPeerStatus::of(super_peer, kStartMs, 30000, 0);
    EXPECT_EQ(status.resolved_addrs, resolved);
    EXPECT_EQ(status.address, "sp.example:22527");
    EXPECT_EQ(status.tcp_port, 443);
  }
}

}  // namespace
}  // namespace valdori::agent::status
