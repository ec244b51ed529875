// Two agents on one network, their tunnels driven as a kernel would: what each host is told,
// packets that cross both ways, and what a shutdown leaves. The firewall's verdicts, the DNS
// responder and the ICMP answers are checked on the packet path's own tests and end to end.
#include <chrono>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/agent/two_agents.hpp"
#include "tests/support/log_capture.hpp"

namespace valdori::agent::testing {
namespace {

using util::net::Ipv4Net;

Ipv4Net net(const char* text) { return *Ipv4Net::parse(text); }

// B's MTU: low enough that a packet from A can exceed it while fitting A's.
constexpr std::uint16_t kMtuB = 600;
constexpr std::size_t kIpUdpHeadersLen = 28;
// Long enough for a packet to cross loopback many times over; only used to show that nothing
// comes.
constexpr std::chrono::milliseconds kNothingArrives{300};

class TwoAgentsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(agents_.wait_until_ready()); }

  const OverlayPlan& plan() const { return agents_.plan(); }
  TunPair& tun_a() { return *agents_.a().tun; }
  TunPair& tun_b() { return *agents_.b().tun; }

  valdori::testing::LogCapture capture_;  // before the agents: it sees them start
  TwoAgents agents_{{.mtu_b = kMtuB}};
};

TEST_F(TwoAgentsTest, EachHostIsToldItsAddressRoutesAndResponderOnce) {
  const NetworkChange expected_a{std::vector{net("10.77.0.1/24")}, std::vector{net(OverlayPlan::kRoutedSubnet)},
                                 plan().dns_responder};
  // B is the gateway of the routed subnet, so it has no route of its own.
  const NetworkChange expected_b{std::vector{net("10.77.0.2/24")}, std::vector<Ipv4Net>{}, plan().dns_responder};
  EXPECT_EQ(agents_.a().changes->all(), std::vector{expected_a}) << debug(*agents_.a().changes->last());
  EXPECT_EQ(agents_.b().changes->all(), std::vector{expected_b}) << debug(*agents_.b().changes->last());
}

TEST_F(TwoAgentsTest, AllowedPacketsArriveUnchanged) {
  const OverlayPlan& p = plan();
  struct Case {
    const char* name;
    bool from_a;
    Bytes packet;
  };
  const Case cases[] = {
      {"ping", true, icmp_echo(p.a, p.b, false, 0x77, 1)},
      {"its reply", false, icmp_echo(p.b, p.a, true, 0x77, 1)},
      {"UDP from A to B", true, udp_packet(p.a, 40000, p.b, 7000, 200)},
      {"to the subnet routed through B", true, udp_packet(p.a, 40001, p.behind_b, 9000, 64)},
      {"exactly B's MTU with Don't Fragment", true, udp_packet(p.a, 40002, p.b, 7000, kMtuB - kIpUdpHeadersLen)},
      {"above B's MTU without Don't Fragment: nothing fragments it", true,
       udp_packet(p.a, 40003, p.b, 7000, kMtuB + 100 - kIpUdpHeadersLen, /*dont_fragment=*/false)},
  };
  for (const Case& c : cases) {
    TunPair& from = c.from_a ? tun_a() : tun_b();
    TunPair& to = c.from_a ? tun_b() : tun_a();
    from.inject(c.packet);
    EXPECT_EQ(to.receive(), c.packet) << c.name;
  }
}

TEST_F(TwoAgentsTest, ShutdownStopsThePacketPathWithoutTellingTheHost) {
  auto& a = agents_.a();
  const auto changes_before = a.changes->all();
  agents_.shutdown(a);

  ASSERT_TRUE(wait_until([&] {
    return capture_.has(log::Level::trace, "TUN runner finished") &&
           capture_.has(log::Level::trace, "Node runner done.");
  }));
  tun_b().inject(icmp_echo(plan().b, plan().a, false, 1, 1));
  EXPECT_EQ(tun_a().receive(kNothingArrives), std::nullopt);
  tun_a().inject(icmp_echo(plan().a, plan().b, false, 2, 1));
  EXPECT_EQ(tun_b().receive(kNothingArrives), std::nullopt);
  // The host keeps the last record it was given.
  EXPECT_EQ(a.changes->all(), changes_before);
}

}  // namespace
}  // namespace valdori::agent::testing
