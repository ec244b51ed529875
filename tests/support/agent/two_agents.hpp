// Two started agents, A and B, on one overlay network whose document is a local file, each with
// a socket-pair tunnel. The document also names C, a member the policy allows that never runs
// (the sender check protects its addresses), and D, whom no policy allows; and a subnet routed
// through B.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "agent/agent/agent.hpp"
#include "agent/agent/network_listener/network_change.hpp"
#include "tests/support/agent/agent_testbed.hpp"
#include "tests/support/agent/tunnel_packets.hpp"
#include "tests/support/env_guard.hpp"
#include "tests/support/temp_dir.hpp"

namespace valdori::agent::testing {

// The network document's addresses.
struct OverlayPlan {
  static constexpr const char* kNetwork = "10.77.0.0/24";
  static constexpr const char* kRoutedSubnet = "192.168.77.0/24";  // through B
  Ipv4Addr a = ip("10.77.0.1");
  Ipv4Addr b = ip("10.77.0.2");
  Ipv4Addr c = ip("10.77.0.3");
  Ipv4Addr d = ip("10.77.0.4");
  Ipv4Addr dns_responder = ip("10.77.0.254");  // broadcast minus one
  Ipv4Addr behind_b = ip("192.168.77.5");
};

struct TwoAgentsOptions {
  std::optional<std::uint16_t> mtu_b{};  // B's configured MTU; the default when absent
  // The overlay nodes' housekeeping period in place of the testbed's quick one (the greeting
  // timeout follows it); for tests that want the nodes to keep quiet.
  std::optional<std::chrono::milliseconds> node_housekeeping_interval{};
};

class TwoAgents {
 public:
  // One agent of the pair, with what its host sees.
  struct Member {
    p2p::Identity identity;
    std::unique_ptr<TunPair> tun;
    std::shared_ptr<NetworkChangeLog> changes = std::make_shared<NetworkChangeLog>();
    std::optional<Agent> agent;
    bool shut_down = false;
  };

  // Starts both agents; their first housekeeping pass begins at once.
  explicit TwoAgents(TwoAgentsOptions options = {});
  // Shuts down whichever agent is still running.
  ~TwoAgents();
  TwoAgents(const TwoAgents&) = delete;
  TwoAgents& operator=(const TwoAgents&) = delete;

  AgentTestbed& testbed() { return testbed_; }
  const OverlayPlan& plan() const { return plan_; }
  Member& a() { return a_; }
  Member& b() { return b_; }
  const p2p::Identity& c() const { return c_; }

  // True once both hosts were told their overlay address and each node has a way to the other
  // (relayed or direct), so that the first packet is not lost to a path still being found.
  bool wait_until_ready();
  // True once the nodes send to each other directly; traffic has to flow meanwhile, for the
  // super peer to introduce them, so `traffic` is called between the checks.
  bool wait_for_direct_paths(const std::function<void()>& traffic);
  // Agent::shutdown, waited for.
  void shutdown(Member& member);

  // The send handle of `from`'s overlay node towards `to`.
  static std::shared_ptr<p2p::node::SendHandle> handle(const Member& from, const Member& to);

 private:
  void start(Member& member, const char* config_name, std::optional<std::uint16_t> mtu);

  AgentTestbed testbed_;
  std::vector<std::unique_ptr<valdori::testing::EnvGuard>> env_;
  valdori::testing::TempDir dir_;
  OverlayPlan plan_;
  Member a_;
  Member b_;
  p2p::Identity c_;
  p2p::Identity d_;
  std::string network_url_;
};

}  // namespace valdori::agent::testing
