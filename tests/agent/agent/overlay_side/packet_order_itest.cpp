// The packet path keeps the order of a flow: packets that arrive together at A's tunnel, and so
// wake the tunnel readers, leave in runs and reach B's tunnel as coalesced reads for the tunnel
// writers, come out of B's tunnel in the order they went in. Several workers wait on each queue
// and on the tunnel; only one at a time may take from each, or a burst is split among them.
#include <chrono>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/agent/two_agents.hpp"

namespace valdori::agent::testing {
namespace {

constexpr int kOrderRounds = 20;
// Long enough to make runs of segments; short enough to stay below the queues' capacities.
constexpr std::uint16_t kBurst = 48;

Bytes numbered(const OverlayPlan& plan, std::uint16_t number) {
  const std::uint8_t payload[] = {static_cast<std::uint8_t>(number >> 8), static_cast<std::uint8_t>(number)};
  return udp_packet(plan.a, 40000, plan.b, 7000, payload);
}

std::uint16_t number_of(const Bytes& packet) {
  const auto payload = udp_payload(packet);
  return load16(payload, 0);
}

TEST(PacketPathOrder, ABurstLeavesTheOtherTunnelInTheOrderItEntered) {
  TwoAgents agents;
  ASSERT_TRUE(agents.wait_until_ready());
  const OverlayPlan& plan = agents.plan();
  TunPair& tun_a = *agents.a().tun;
  TunPair& tun_b = *agents.b().tun;
  ASSERT_TRUE(agents.wait_for_direct_paths([&] {
    tun_a.inject(numbered(plan, 0));
    (void)tun_b.receive();
  }));
  while (tun_b.receive(std::chrono::milliseconds(100))) {
  }

  std::vector<Bytes> burst;
  for (std::uint16_t i = 0; i < kBurst; ++i) burst.push_back(numbered(plan, i));
  for (int round = 0; round < kOrderRounds; ++round) {
    for (const Bytes& packet : burst) tun_a.inject(packet);
    std::vector<std::uint16_t> received;
    while (received.size() < kBurst) {
      const auto packet = tun_b.receive(std::chrono::milliseconds(1000));
      if (!packet) break;
      received.push_back(number_of(*packet));
    }
    // A lost packet (a full queue under a loaded machine) is no fault here; a late one is.
    ASSERT_FALSE(received.empty()) << "round " << round;
    for (std::size_t i = 1; i < received.size(); ++i) {
      ASSERT_LT(received[i - 1], received[i]) << "round " << round << ", position " << i;
    }
  }
}

}  // namespace
}  // namespace valdori::agent::testing
