#include "agent/agent/overlay_side/overlay_to_tun.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "packet_path_fixture.hpp"

namespace valdori::agent::testing {
namespace {

class OverlayToTunTest : public PacketPathTest {
 protected:
  // One worker, so that packets are handled in the order they were queued. The capture starts
  // after its start line.
  void start_worker(const std::shared_ptr<AgentInner>& inner) {
    spawn(overlay_to_tun(inner->inbound, inner, inner->token, 0, 1));
    EXPECT_TRUE(wait_log(log::Level::trace, "Valdori -> tun packet processing task started (1/1)."));
    logs_.clear();
  }

  void deliver(AgentInner& inner, const p2p::PubKey& sender, Bytes payload) {
    EXPECT_FALSE(inner.inbound->try_push(InboundItem{sender, std::move(payload)}));
  }

  // The events of the packets queued so far, once the worker has handled them all.
  std::vector<valdori::testing::CapturedEvent> settle(AgentInner& inner) {
    deliver(inner, sentinel_, Bytes(19, 0));
    return events_before(kNodeTarget, "Failed to decode IP packet from peer " + sentinel_.to_string());
  }

  const p2p::PubKey peer_ = new_key();
  const p2p::PubKey stranger_ = new_key();
  const p2p::PubKey sentinel_ = new_key();
};

TEST_F(OverlayToTunTest, DropsWhatDoesNotDecodeWithTheReason) {
  auto inner = make_inner();
  start_worker(inner);
  // The reasons are the header parser's texts (its own tests).
  Bytes ipv6 = udp_packet("10.1.0.5", 1, "10.0.0.7", 2, Bytes(12, 0));
  ipv6[0] = 0x65;
  const std::pair<Bytes, std::string> cases[] = {
      {Bytes(19, 0x45), "packet shorter than an IPv4 header"},
      {ipv6, "not an IPv4 packet"},
  };
  for (const auto& [payload, reason] : cases) deliver(*inner, peer_, payload);

  const auto events = settle(*inner);
  ASSERT_EQ(events.size(), std::size(cases));
  for (std::size_t i = 0; i < events.size(); ++i) {
    const std::string key = peer_.to_string();
    const std::string& reason = cases[i].second;
    EXPECT_EQ(events[i].level, log::Level::err);
    EXPECT_EQ(events[i].text,
              "Failed to decode IP packet from peer " + key + ": " + reason + " peer=" + key + " error=" + reason);
  }
  EXPECT_FALSE(tun_.receive(std::chrono::milliseconds(0)));
}

TEST_F(OverlayToTunTest, WritesOnlyWhatTheReceiveTrieAllowsFromItsPeer) {
  auto inner = make_inner();
  inner->rx_trie.store(
      two_level_trie(RxRoutes{{"10.1.0.0/16", "10.0.0.0/24", peer_}, {"10.1.2.0/24", "10.9.0.0/16", peer_}}));
  start_worker(inner);

  const Bytes allowed = ipv4_packet("10.1.0.5", "10.0.0.7", kTcp, Bytes(300, 0x3C));
  const std::string peer = peer_.to_string();
  const std::string stranger = stranger_.to_string();
  struct Case {
    p2p::PubKey sender;
    Bytes packet;
    log::Level level;
    std::string line;
  };
  const Case cases[] = {
      {peer_, allowed, log::Level::trace,
       "Successfully forwarded packet to TUN device: 10.1.0.5 -> 10.0.0.7 peer=" + peer + " src=10.1.0.5 dst=10.0.0.7"},
      {peer_, ipv4_packet("10.2.0.1", "10.0.0.7", kTcp, Bytes(8, 0)), log::Level::warn,
       "No inbound route found for source: 10.2.0.1 -> 10.0.0.7 (source IP not in routing table) peer=" + peer +
           " src=10.2.0.1 dst=10.0.0.7"},
      // Only the most specific source network is searched.
      {peer_, ipv4_packet("10.1.2.3", "10.0.0.7", kTcp, Bytes(8, 0)), log::Level::warn,
       "No inbound route found for destination: 10.1.2.3 -> 10.0.0.7 (missing destination route in routing table) "
       "peer=" +
           peer + " src=10.1.2.3 dst=10.0.0.7"},
      {stranger_, allowed, log::Level::warn,
       "Security violation: packet source mismatch - received from peer " + stranger +
           " with source IP 10.1.0.5 but expected peer " + peer + " for this route peer=" + stranger +
           " expected_peer=" + peer + " src=10.1.0.5 dst=10.0.0.7"},
      {peer_, udp_packet("10.1.0.5", 1, "10.0.0.7", 2, kControlMarker), log::Level::trace,
       "Dropping Valdori control plane packet: 10.1.0.5 -> 10.0.0.7 (control traffic filtered) peer=" + peer +
           " src=10.1.0.5 dst=10.0.0.7"},
  };
  for (const auto& c : cases) deliver(*inner, c.sender, c.packet);

  const auto events = settle(*inner);
  // Each packet: its "Forwarding" line, then its verdict.
  ASSERT_EQ(events.size(), 2 * std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(events[2 * i].text.rfind("Forwarding packet from Valdori to TUN device: ", 0), 0u) << events[2 * i].text;
    EXPECT_EQ(events[2 * i + 1].level, cases[i].level);
    EXPECT_EQ(events[2 * i + 1].text, cases[i].line);
  }
  EXPECT_EQ(tun_.receive(), allowed);
  EXPECT_FALSE(tun_.receive(std::chrono::milliseconds(0)));
}

TEST_F(OverlayToTunTest, TooLongAloneOrDontFragmentAloneStillPasses) {
  auto inner = make_inner();
  inner->rx_trie.store(two_level_trie(RxRoutes{{"10.1.0.0/16", "10.0.0.0/24", peer_}}));
  start_worker(inner);
  const std::size_t mtu = inner->mtu;
  const Bytes cases[] = {
      udp_packet_of_size("10.1.0.5", "10.0.0.7", mtu, true),
      udp_packet_of_size("10.1.0.5", "10.0.0.7", mtu + 1, false),
  };
  for (const auto& packet : cases) {
    deliver(*inner, peer_, packet);
    EXPECT_EQ(tun_.receive(), packet) << packet.size();
  }
  EXPECT_FALSE(logs_.has_containing(log::Level::trace, "exceeds MTU"));
}

// The answer goes back through the overlay, to the sender whatever the firewall says of it.
TEST_F(OverlayToTunTest, AnswersTooLongPacketsThatMayNotBeFragmented) {
  auto inner = make_inner();
  auto sender = make_inner(bed_.config(), false);
  start_worker(inner);
  const Bytes packet = udp_packet_of_size("10.1.0.5", "10.0.0.7", inner->mtu + 1, true);

  // Sent again until the relay through the super peer carries it: the nodes have just started.
  std::optional<InboundItem> answer;
  ASSERT_TRUE(wait_until([&] {
    deliver(*inner, sender->identity.pk(), packet);
    answer = pop(*sender->inbound, std::chrono::milliseconds(200));
    return answer.has_value();
  }));
  EXPECT_EQ(answer->sender, inner->identity.pk());
  const Bytes& icmp = answer->payload;
  ASSERT_EQ(icmp.size(), 56u);
  EXPECT_EQ(Bytes(icmp.begin() + 12, icmp.begin() + 20), (Bytes{10, 0, 0, 7, 10, 1, 0, 5}));
  EXPECT_EQ(icmp[9], 1);   // ICMP
  EXPECT_EQ(icmp[20], 3);  // destination unreachable
  EXPECT_EQ(icmp[21], 4);  // fragmentation needed
  EXPECT_EQ(icmp[26] << 8 | icmp[27], inner->mtu);
  EXPECT_EQ(Bytes(icmp.begin() + 28, icmp.end()), Bytes(packet.begin(), packet.begin() + 28));

  const std::string size_line = "Packet size " + std::to_string(packet.size()) + " bytes exceeds MTU " +
                                std::to_string(inner->mtu) +
                                " bytes with Don't Fragment flag set, sending ICMP Fragmentation Needed";
  EXPECT_TRUE(logs_.has_containing(log::Level::trace, size_line));
  EXPECT_TRUE(wait_log(log::Level::trace, "Successfully sent ICMP Fragmentation Needed response to peer peer=" +
                                              sender->identity.pk().to_string()));
  EXPECT_FALSE(tun_.receive(std::chrono::milliseconds(0)));
}

// A tunnel that takes no packet for a while delays the writes behind it: none is lost, and they
// enter the tunnel in the order they came.
TEST_F(OverlayToTunTest, AFullTunnelDelaysWritesAndLosesNone) {
  auto inner = make_inner();
  inner->rx_trie.store(two_level_trie(RxRoutes{{"10.1.0.0/16", "10.0.0.0/24", peer_}}));
  start_worker(inner);
  // More than the tunnel's socket buffer holds (about 200 KB), fewer than the queue does.
  std::vector<Bytes> packets;
  for (int i = 0; i < 400; ++i) {
    packets.push_back(ipv4_packet("10.1.0.5", "10.0.0.7", kTcp, Bytes(1000, static_cast<std::uint8_t>(i))));
    deliver(*inner, peer_, packets.back());
  }
  // Meanwhile the worker fills the tunnel and waits for room.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  for (const auto& packet : packets) EXPECT_EQ(tun_.receive(), packet);
  EXPECT_FALSE(tun_.receive(std::chrono::milliseconds(0)));
}

TEST_F(OverlayToTunTest, WithoutATunnelDeviceEveryWriteFails) {
  auto inner = make_inner(bed_.config(), false);
  inner->rx_trie.store(two_level_trie(RxRoutes{{"10.1.0.0/16", "10.0.0.0/24", peer_}}));
  start_worker(inner);
  deliver(*inner, peer_, ipv4_packet("10.1.0.5", "10.0.0.7", kTcp, Bytes(8, 0)));
  EXPECT_TRUE(wait_log(log::Level::warn, "Failed to forward packet to TUN device: TUN device is None peer=" +
                                             peer_.to_string() + " src=10.1.0.5 dst=10.0.0.7 error="));
}

}  // namespace
}  // namespace valdori::agent::testing
