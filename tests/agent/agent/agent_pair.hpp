// The fixture of the agent integration tests: two agents joined to one network, in both tunnel
// framings, with every log event captured.
#pragma once

#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/agent/two_agents.hpp"
#include "tests/support/log_capture.hpp"

namespace valdori::agent::testing {

// B's MTU: low enough that a packet from A can exceed it while fitting A's.
inline constexpr std::uint16_t kMtuB = 600;

class AgentPairTest : public ::testing::TestWithParam<platform::TunFraming> {
 protected:
  void SetUp() override {
    agents_.emplace(TwoAgentsOptions{.framing = GetParam(), .mtu_b = kMtuB});
    ASSERT_TRUE(agents_->wait_until_ready());
  }

  TwoAgents& agents() { return *agents_; }
  const OverlayPlan& plan() const { return agents_->plan(); }
  TunPair& tun_a() { return *agents_->a().tun; }
  TunPair& tun_b() { return *agents_->b().tun; }

  // Injects `packet` at `from` and expects it, byte for byte, as the next packet at `to`.
  void expect_carried(TunPair& from, TunPair& to, const Bytes& packet) {
    from.inject(packet);
    const auto received = to.receive();
    ASSERT_TRUE(received.has_value()) << "nothing arrived";
    EXPECT_EQ(*received, packet);
  }

  // Waits for a WARN line containing `fragment`.
  bool warned(const std::string& fragment) {
    return wait_until([&] { return capture_.has_containing(log::Level::warn, fragment); });
  }

  valdori::testing::LogCapture capture_;  // before the agents: it sees them start
  std::optional<TwoAgents> agents_;
};

inline std::string framing_name(const ::testing::TestParamInfo<platform::TunFraming>& info) {
  return info.param == platform::TunFraming::Bare ? "Bare" : "ProtocolFamilyPrefix";
}

// Every suite runs in both framings: as on Linux and with the 4-byte prefix of Apple platforms.
inline const auto kFramings = ::testing::Values(platform::TunFraming::Bare, platform::TunFraming::ProtocolFamilyPrefix);

}  // namespace valdori::agent::testing
