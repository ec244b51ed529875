#include <gtest/gtest.h>

#include "core_bench.hpp"
#include "tests/support/temp_dir.hpp"

namespace valdori::agent::testing {
namespace {

using AgentShutdown = CoreTest;

// Log lines of the agent's own targets; the overlay node, which runs on, is left out.
std::vector<std::string> agent_lines(const valdori::testing::LogCapture& logs) {
  std::vector<std::string> lines;
  for (const auto& event : logs.events()) {
    if (event.target.starts_with("valdori_agent::")) lines.push_back(event.text);
  }
  return lines;
}

TEST_F(AgentShutdown, WithoutNetworksOnlyCancelsTheToken) {
  for (int call = 0; call < 2; ++call) {
    logs_.clear();
    bed_.runtime().block_on(AgentInner::shutdown(inner_));
    EXPECT_TRUE(inner_->token.is_cancelled());
    EXPECT_EQ(agent_lines(logs_), std::vector<std::string>{"Cancel agent token"});
  }
  EXPECT_FALSE(inner_->netif.slot()->token);  // no application, so no tunnel supervisor
}

TEST_F(AgentShutdown, TakesEveryNetworkDownAndAgainChangesNothing) {
  const p2p::PubKey peer = peer_key();
  const std::tuple<const char*, const char*, const char*> joined[] = {{"a", "10.1.0.5/16", "10.1.0.6"},
                                                                      {"b", "10.2.0.5/16", "10.2.0.6"}};
  for (const auto& [name, ip, peer_ip] : joined) {
    AgentState desired;
    desired.ip.applied = net(ip);
    desired.access_rules.applied = rules({rule(Direction::OUT, "10.0.0.0/8", std::string(peer_ip) + "/32", peer),
                                          rule(Direction::IN, std::string(peer_ip) + "/32", "10.0.0.0/8", peer)});
    desired.routes.applied = routes({"192.168.0.0/24"});
    desired.hostnames.applied = hostnames({{peer_ip, name}});
    const std::string url_text = std::string("https://example.com/") + name + ".toml";
    join(url_text, desired);
    apply(url_text);
  }
  const NetworkChange delivered{{{net("10.1.0.5/16")}}, {{}}, addr("10.1.255.254")};
  inner_->state.last_network_change = delivered;
  ASSERT_TRUE(inner_->dns->server_ip());
  ASSERT_FALSE(inner_->rx_trie.load()->empty());
  ASSERT_EQ(resolve("a.valdori."), std::vector{addr("10.1.0.6")});
  const auto tunnel_token = inner_->netif.slot()->token;

  bed_.runtime().block_on(AgentInner::shutdown(inner_));

  for (const auto& [key, network] : networks()) {
    EXPECT_EQ(network.desired_state, AgentState{});
    EXPECT_EQ(network.current_state, AgentState{});
  }
  EXPECT_TRUE(inner_->tx_trie.load()->empty());
  EXPECT_TRUE(inner_->rx_trie.load()->empty());
  EXPECT_EQ(inner_->dns->server_ip(), std::nullopt);
  EXPECT_EQ(resolve("a.valdori."), std::nullopt);
  EXPECT_EQ(inner_->state.last_network_change, delivered);  // the host is not told
  ASSERT_TRUE(inner_->netif.slot()->token);
  EXPECT_EQ(*inner_->netif.slot()->token, *tunnel_token);
  EXPECT_TRUE(tunnel_token->is_cancelled());

  // Again: the same states, and only the lines every application logs.
  logs_.clear();
  bed_.runtime().block_on(AgentInner::shutdown(inner_));
  for (const auto& [key, network] : networks()) EXPECT_EQ(network.current_state, AgentState{});
  const auto lines = agent_lines(logs_);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Cancel agent token"), 1);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "All DNS hostnames up to date"), 2);
  for (const auto& line : lines) {
    EXPECT_TRUE(line == "Cancel agent token" || line == "All DNS hostnames up to date" ||
                line.starts_with("We're running on a mobile platform"))
        << line;
  }
}

TEST_F(AgentShutdown, BeforeAnyApplicationStartsTheTunnelTasksCancelled) {
  TunPair tunnel(bed_.executor());
  remake(PlatformDependent{tunnel.device(), {}});
  AgentState desired;
  desired.ip.applied = net("10.1.0.5/16");
  join("https://example.com/a.toml", desired);

  bed_.runtime().block_on(AgentInner::shutdown(inner_));

  EXPECT_EQ(count(logs_, log::Level::trace, "Start TUN device runner"), 1u);
  const auto slot = inner_->netif.slot();
  ASSERT_TRUE(slot->token);
  EXPECT_TRUE(slot->token->is_cancelled());
  EXPECT_EQ(slot->device, tunnel.device());
  EXPECT_TRUE(wait_until([&] { return logs_.has(log::Level::trace, "TUN runner finished"); }));
}

TEST_F(AgentShutdown, SaveConfigIntoAnUnwritablePathFailsWithTheIoKind) {
  const valdori::testing::TempDir dir;
  join("https://example.com/a.toml");
  const auto before = inner_->state.config.networks.size();

  const auto saved = inner_->state.save_config(dir / "missing" / "config.toml");

  ASSERT_FALSE(saved);
  EXPECT_EQ(saved.error().kind(), error::Kind::Io);
  EXPECT_TRUE(saved.error().to_string().starts_with("I/O error: ")) << saved.error().to_string();
  EXPECT_EQ(inner_->state.config.networks.size(), before);
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

}  // namespace
}  // namespace valdori::agent::testing
