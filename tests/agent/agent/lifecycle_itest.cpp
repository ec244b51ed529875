// What the hosts are told once the agents have applied the network, and what a shutdown leaves.
#include <chrono>
#include <vector>

#include <gtest/gtest.h>
#include <boost/asio/awaitable.hpp>

#include "tests/agent/agent/agent_pair.hpp"

namespace valdori::agent::testing {
namespace {

using util::net::Ipv4Net;

Ipv4Net net(const char* text) { return *Ipv4Net::parse(text); }

// Long enough for a packet to cross loopback many times over; only used to show that nothing
// comes.
constexpr std::chrono::milliseconds kNothingArrives{300};

using AgentLifecycle = AgentPairTest;

TEST_P(AgentLifecycle, EachHostIsToldItsAddressRoutesAndResponderOnce) {
  const NetworkChange expected_a{std::vector{net("10.77.0.1/24")}, std::vector{net(OverlayPlan::kRoutedSubnet)},
                                 plan().dns_responder};
  // B is the gateway of the routed subnet, so it has no route of its own.
  const NetworkChange expected_b{std::vector{net("10.77.0.2/24")}, std::vector<Ipv4Net>{}, plan().dns_responder};
  EXPECT_EQ(agents().a().changes->all(), std::vector{expected_a}) << debug(*agents().a().changes->last());
  EXPECT_EQ(agents().b().changes->all(), std::vector{expected_b}) << debug(*agents().b().changes->last());
}

TEST_P(AgentLifecycle, ShutdownTakesTheNetworkDownWithoutTellingTheHost) {
  auto& a = agents().a();
  const auto changes_before = a.changes->all();
  agents().shutdown(a);
  EXPECT_TRUE(capture_.has(log::Level::info, "Agent shut down."));

  const auto& inner = a.agent->inner();
  EXPECT_TRUE(inner->tx_trie.load()->empty());
  EXPECT_TRUE(inner->rx_trie.load()->empty());
  EXPECT_EQ(inner->dns->server_ip(), std::nullopt);
  const auto states = agents().testbed().runtime().block_on(
      [](std::shared_ptr<AgentInner> core) -> boost::asio::awaitable<std::vector<network::AgentState>> {
        const auto read = co_await core->state_lock.read();
        std::vector<network::AgentState> current;
        for (const auto& [url, network] : core->state.config.networks) current.push_back(network.current_state);
        co_return current;
      }(inner));
  EXPECT_EQ(states, std::vector<network::AgentState>(1));

  // The packet path has stopped in both directions.
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

INSTANTIATE_TEST_SUITE_P(Framings, AgentLifecycle, kFramings, framing_name);

}  // namespace
}  // namespace valdori::agent::testing
