#include <gtest/gtest.h>

#include "agent/agent/firewall/agent_firewall.hpp"
#include "agent/agent/firewall/tries.hpp"
#include "core_bench.hpp"

namespace valdori::agent::testing {
namespace {

constexpr const char* kFirewallTarget = "valdori_agent::agent::firewall";

class UpdateTries : public CoreTest {
 protected:
  // A network whose access rules are applied already.
  void join_with_rules(std::string_view url_text, EffectiveAccessRuleList list) {
    join(url_text).current_state.access_rules.applied = std::move(list);
  }
  void rebuild() { firewall::update_tries(*inner_, networks()); }

  // The peer the transmit trie sends a packet from `source` to `dest` to, if any.
  std::optional<p2p::PubKey> tx_peer(std::string_view source, std::string_view dest) {
    const auto trie = inner_->tx_trie.load();
    const auto match = firewall::lookup(*trie, addr(dest), addr(source));
    if (match.value == nullptr) return std::nullopt;
    return (*match.value)->recipient();
  }
  // The only peer the receive trie accepts a packet from `source` to `dest` from, if any.
  std::optional<p2p::PubKey> rx_peer(std::string_view source, std::string_view dest) {
    const auto trie = inner_->rx_trie.load();
    const auto match = firewall::lookup(*trie, addr(source), addr(dest));
    if (match.value == nullptr) return std::nullopt;
    return *match.value;
  }
};

TEST_F(UpdateTries, WithoutRulesPublishesTwoEmptyTries) {
  rebuild();
  EXPECT_EQ(texts_of(logs_, kFirewallTarget),
            (std::vector<std::string>{"Rebuild tries", "Tries rebuilt successfully."}));

  join("https://example.com/a.toml");
  join("https://example.com/b.toml");
  const auto tx_before = inner_->tx_trie.load();
  logs_.clear();
  rebuild();

  EXPECT_NE(inner_->tx_trie.load(), tx_before);
  EXPECT_TRUE(inner_->tx_trie.load()->empty());
  EXPECT_TRUE(inner_->rx_trie.load()->empty());
  EXPECT_EQ(texts_of(logs_, kFirewallTarget),
            (std::vector<std::string>{"Rebuild tries",
                                      "No access rules available for network network=\"https://example.com/a.toml\"",
                                      "No access rules available for network network=\"https://example.com/b.toml\"",
                                      "Tries rebuilt successfully."}));
}

TEST_F(UpdateTries, LookupsFindTheAllowedPeers) {
  const p2p::PubKey peer = peer_key();
  const p2p::PubKey gateway = peer_key();
  const p2p::PubKey denied = peer_key();
  join_with_rules("https://example.com/a.toml",
                  rules({rule(Direction::OUT, "10.0.0.1/32", "10.0.0.2/32", peer),
                         rule(Direction::IN, "10.0.0.2/32", "10.0.0.1/32", peer),
                         rule(Direction::OUT, "10.0.0.1/32", "192.168.0.0/24", gateway),
                         rule(Direction::IN, "192.168.0.0/24", "10.0.0.1/32", gateway),
                         rule(Direction::OUT, "10.0.0.1/32", "10.0.0.3/32", denied, Action::Deny),
                         rule(Direction::IN, "10.0.0.3/32", "10.0.0.1/32", denied, Action::Deny)}));
  rebuild();
  // The node keeps room for the peers the rules let through; a denied one is a stranger to it.
  const auto& node = *inner_->node->inner();
  EXPECT_FALSE(node.is_stranger(peer));
  EXPECT_FALSE(node.is_stranger(gateway));
  EXPECT_TRUE(node.is_stranger(denied));

  // The transmit trie holds the node's own send handle for the peer.
  const auto tx = inner_->tx_trie.load();
  const auto match = firewall::lookup(*tx, addr("10.0.0.2"), addr("10.0.0.1"));
  ASSERT_NE(match.value, nullptr);
  EXPECT_EQ(*match.value, *inner_->node->send_handle(peer));

  struct Case {
    const char* source;
    const char* dest;
    std::optional<p2p::PubKey> tx;  // the way out: this node is the source
    std::optional<p2p::PubKey> rx;  // the way in: this node is the destination
  };
  const Case cases[] = {
      {"10.0.0.1", "10.0.0.2", peer, std::nullopt},
      {"10.0.0.2", "10.0.0.1", std::nullopt, peer},
      {"10.0.0.1", "192.168.0.77", gateway, std::nullopt},
      {"192.168.0.77", "10.0.0.1", std::nullopt, gateway},
      {"10.0.0.1", "10.0.0.3", std::nullopt, std::nullopt},  // denied
      {"10.0.0.3", "10.0.0.1", std::nullopt, std::nullopt},
      {"10.0.0.9", "10.0.0.2", std::nullopt, std::nullopt},  // source not allowed
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " -> " + c.dest);
    EXPECT_EQ(tx_peer(c.source, c.dest), c.tx);
    EXPECT_EQ(rx_peer(c.source, c.dest), c.rx);
  }
  EXPECT_TRUE(logs_.has(log::Level::trace, fmt::format("Added TX route: 10.0.0.1/32 -> 10.0.0.2/32 via peer {} "
                                                       "dest_net=10.0.0.2/32 source_net=10.0.0.1/32 peer={}",
                                                       peer, peer)));
  EXPECT_TRUE(logs_.has(log::Level::trace, fmt::format("Added RX route: 10.0.0.2/32 -> 10.0.0.1/32 from peer {} to "
                                                       "TUN device source_net=10.0.0.2/32 dest_net=10.0.0.1/32 peer={}",
                                                       peer, peer)));
}

TEST_F(UpdateTries, RefusedSendHandleLeavesOnlyThatEntryOut) {
  const p2p::PubKey own = inner_->identity.pk();  // the node refuses a handle to itself
  const p2p::PubKey peer = peer_key();
  join_with_rules("https://example.com/a.toml", rules({rule(Direction::OUT, "10.0.0.1/32", "10.0.0.9/32", own),
                                                       rule(Direction::OUT, "10.0.0.1/32", "10.0.0.2/32", peer),
                                                       rule(Direction::IN, "10.0.0.9/32", "10.0.0.1/32", own)}));
  rebuild();

  EXPECT_EQ(tx_peer("10.0.0.1", "10.0.0.2"), peer);
  EXPECT_EQ(tx_peer("10.0.0.1", "10.0.0.9"), std::nullopt);
  // The destination stays in the trie with nothing under it, so its packets stop there.
  const auto match = firewall::lookup(*inner_->tx_trie.load(), addr("10.0.0.9"), addr("10.0.0.1"));
  ASSERT_NE(match.outer_net, nullptr);
  EXPECT_EQ(*match.outer_net, net("10.0.0.9/32"));
  EXPECT_EQ(rx_peer("10.0.0.9", "10.0.0.1"), own);
  EXPECT_TRUE(logs_.has(log::Level::trace, "Tries rebuilt successfully."));
}

TEST_F(UpdateTries, OverlappingNetworksMergeInUrlOrder) {
  const p2p::PubKey p1 = peer_key();
  const p2p::PubKey p2 = peer_key();
  const p2p::PubKey p3 = peer_key();
  // The same route to the same peer in both networks is no conflict.
  const auto shared = rule(Direction::IN, "10.1.0.0/16", "10.7.0.0/16", p2);
  const auto first = rules({rule(Direction::OUT, "10.9.0.0/16", "10.1.0.0/16", p1),
                            rule(Direction::IN, "10.1.0.0/16", "10.9.0.0/16", p1), shared});
  const auto second = rules({rule(Direction::OUT, "10.8.0.0/16", "10.1.0.0/16", p2),
                             rule(Direction::OUT, "10.9.0.0/16", "10.1.0.0/16", p3),
                             rule(Direction::IN, "10.1.0.0/16", "10.8.0.0/16", p2),
                             rule(Direction::IN, "10.1.0.0/16", "10.9.0.0/16", p3), shared});
  // Both insertion orders, so that the map's own order cannot be what decides.
  for (const bool first_joins_first : {true, false}) {
    SCOPED_TRACE(first_joins_first);
    networks().clear();
    logs_.clear();
    if (first_joins_first) join_with_rules("https://example.com/a.toml", first);
    join_with_rules("https://example.com/b.toml", second);
    if (!first_joins_first) join_with_rules("https://example.com/a.toml", first);
    rebuild();

    EXPECT_EQ(tx_peer("10.9.0.1", "10.1.2.3"), p1);
    EXPECT_EQ(tx_peer("10.8.0.1", "10.1.2.3"), p2);
    EXPECT_EQ(rx_peer("10.1.2.3", "10.9.0.1"), p1);
    EXPECT_EQ(rx_peer("10.1.2.3", "10.8.0.1"), p2);
    EXPECT_EQ(rx_peer("10.1.2.3", "10.7.0.1"), p2);
    const auto warnings = logs_.texts(log::Level::warn);
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_TRUE(warnings[0].starts_with(
        fmt::format("Overlapping TX route 10.9.0.0/16 -> 10.1.0.0/16: keeping peer {} of an earlier network, "
                    "ignoring peer {} of https://example.com/b.toml",
                    p1, p3)))
        << warnings[0];
    EXPECT_TRUE(warnings[1].starts_with("Overlapping RX route 10.1.0.0/16 -> 10.9.0.0/16")) << warnings[1];
  }
}

}  // namespace
}  // namespace valdori::agent::testing
