// Packets between the tunnels of two agents: what the firewall lets through arrives unchanged,
// what it refuses is dropped with a warning, and a packet too large for the receiving side comes
// back as an ICMP fragmentation-needed message.
#include <functional>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "overlay_node/node/send.hpp"
#include "tests/agent/agent/agent_pair.hpp"

namespace valdori::agent::testing {
namespace {

constexpr std::size_t kIpUdpHeadersLen = 28;

using PacketPath = AgentPairTest;

TEST_P(PacketPath, PingReachesBAndItsReplyComesBackToA) {
  expect_carried(tun_a(), tun_b(), icmp_echo(plan().a, plan().b, false, 0x77, 1));
  expect_carried(tun_b(), tun_a(), icmp_echo(plan().b, plan().a, true, 0x77, 1));
}

TEST_P(PacketPath, AllowedPacketsArriveUnchanged) {
  struct Case {
    const char* name;
    bool from_a;
    std::function<Bytes(const OverlayPlan&)> packet;
  };
  const std::vector<Case> cases = {
      {"UDP from A to B", true, [](const OverlayPlan& p) { return udp_packet(p.a, 40000, p.b, 7000, 200); }},
      {"UDP from B to A", false, [](const OverlayPlan& p) { return udp_packet(p.b, 7000, p.a, 40000, 200); }},
      {"to the subnet routed through B", true,
       [](const OverlayPlan& p) { return udp_packet(p.a, 40001, p.behind_b, 9000, 64); }},
      {"exactly B's MTU with Don't Fragment", true,
       [](const OverlayPlan& p) { return udp_packet(p.a, 40002, p.b, 7000, kMtuB - kIpUdpHeadersLen); }},
      {"above B's MTU without Don't Fragment: nothing fragments it", true,
       [](const OverlayPlan& p) {
         return udp_packet(p.a, 40003, p.b, 7000, kMtuB + 100 - kIpUdpHeadersLen, /*dont_fragment=*/false);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes packet = c.packet(plan());
    if (c.from_a) {
      expect_carried(tun_a(), tun_b(), packet);
    } else {
      expect_carried(tun_b(), tun_a(), packet);
    }
  }
}

// Where a refused packet enters: a tunnel, or B's overlay node itself, as a tampered peer would
// send past its own firewall.
enum class Origin { TunnelA, TunnelB, NodeB };

TEST_P(PacketPath, RefusedPacketsAreDroppedWithAWarning) {
  const OverlayPlan& p = plan();
  const std::string key_b = agents().b().identity.pk().to_string();
  const std::string key_c = agents().c().pk().to_string();
  struct Case {
    const char* name;
    Origin origin;
    Bytes packet;
    std::string warning;
  };
  const std::vector<Case> cases = {
      {"to a node no policy allows", Origin::TunnelA, udp_packet(p.a, 40000, p.d, 7000, 32),
       "No outbound route found for destination: 10.77.0.1 -> 10.77.0.4 (missing destination route in routing "
       "table)"},
      {"to an address of no network", Origin::TunnelA, icmp_echo(p.a, ip("10.99.0.1"), false, 1, 1),
       "No outbound route found for destination: 10.77.0.1 -> 10.99.0.1 (missing destination route in routing "
       "table)"},
      {"from a source that is not B's own", Origin::TunnelB, udp_packet(p.c, 40000, p.a, 7000, 32),
       "No outbound route found for source: 10.77.0.3 -> 10.77.0.1 (source IP not in routing table)"},
      {"from B posing as C", Origin::NodeB, udp_packet(p.c, 40000, p.a, 7000, 32),
       fmt::format("Security violation: packet source mismatch - received from peer {} with source IP 10.77.0.3 but "
                   "expected peer {} for this route",
                   key_b, key_c)},
      {"from B posing as A itself", Origin::NodeB, icmp_echo(p.a, p.a, false, 1, 1),
       "No inbound route found for source: 10.77.0.1 -> 10.77.0.1 (source IP not in routing table)"},
      {"from B to an address A does not have", Origin::NodeB, udp_packet(p.b, 40000, p.d, 7000, 32),
       "No inbound route found for destination: 10.77.0.2 -> 10.77.0.4 (missing destination route in routing "
       "table)"},
  };
  const auto handle_b_to_a = TwoAgents::handle(agents().b(), agents().a());
  std::uint16_t marker_id = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    switch (c.origin) {
      case Origin::TunnelA: tun_a().inject(c.packet); break;
      case Origin::TunnelB: tun_b().inject(c.packet); break;
      case Origin::NodeB: {
        const auto sent = agents().testbed().runtime().block_on(valdori::node::send(*handle_b_to_a, c.packet));
        ASSERT_TRUE(sent.has_value());
        break;
      }
    }
    ASSERT_TRUE(warned(c.warning));
    // The refused packet is gone for good: the next packet on the same way is the first to arrive.
    ++marker_id;
    if (c.origin == Origin::TunnelA) {
      expect_carried(tun_a(), tun_b(), icmp_echo(p.a, p.b, false, marker_id, 1));
    } else {
      expect_carried(tun_b(), tun_a(), icmp_echo(p.b, p.a, false, marker_id, 1));
    }
  }
}

TEST_P(PacketPath, APacketAboveBsMtuWithDontFragmentComesBackAsFragmentationNeeded) {
  const Bytes packet = udp_packet(plan().a, 40000, plan().b, 7000, kMtuB + 200 - kIpUdpHeadersLen);
  tun_a().inject(packet);

  const auto reply = tun_a().receive();
  ASSERT_TRUE(reply.has_value());
  ASSERT_GE(reply->size(), 20u + 8u + kIpUdpHeadersLen);
  EXPECT_EQ(protocol(*reply), kProtocolIcmp);
  EXPECT_EQ(source(*reply), plan().b);
  EXPECT_EQ(destination(*reply), plan().a);
  EXPECT_TRUE(ipv4_checksum_ok(*reply));
  EXPECT_TRUE(icmp_checksum_ok(*reply));
  const auto icmp = ip_payload(*reply);
  EXPECT_EQ(icmp[0], 3);  // destination unreachable
  EXPECT_EQ(icmp[1], 4);  // fragmentation needed
  EXPECT_EQ(load16(icmp, 6), kMtuB);
  // It quotes the refused packet's header and the first 8 bytes after it.
  const auto quoted = icmp.subspan(8);
  EXPECT_EQ(Bytes(quoted.begin(), quoted.end()), Bytes(packet.begin(), packet.begin() + kIpUdpHeadersLen));

  // B's host never saw the large packet.
  expect_carried(tun_a(), tun_b(), icmp_echo(plan().a, plan().b, false, 0x99, 1));
}

INSTANTIATE_TEST_SUITE_P(Framings, PacketPath, kFramings, framing_name);

}  // namespace
}  // namespace valdori::agent::testing
