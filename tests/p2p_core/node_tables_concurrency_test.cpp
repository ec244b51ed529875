// The node's tables under concurrent use: receiving tasks admit peers and run the handlers while
// the housekeeping walks, removes and refreshes, and senders read their states. Run under
// ThreadSanitizer, any unsynchronised access fails the suite; the checks at the end catch an
// index that lost track of its peers.
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/p2p_core/node/node_fixture.hpp"

namespace valdori::p2p::node_test {
namespace {

constexpr int kReaders = 4;
constexpr int kPeersPerReader = 64;
constexpr int kRounds = 50;

PubKey key_number(int reader, int index) {
  PubKey::Bytes bytes{};
  bytes[0] = static_cast<std::uint8_t>(reader + 1);
  bytes[1] = static_cast<std::uint8_t>(index);
  return PubKey(bytes);
}

class NodeTablesConcurrency : public NodeFixture {
 protected:
  // One receiving task: admits its senders, takes their HELLOs and ACKs, looks up their ids.
  void receive(int reader) {
    for (int round = 0; round < kRounds; ++round) {
      for (int index = 0; index < kPeersPerReader; ++index) {
        const PubKey key = key_number(reader, index);
        const std::uint64_t sent = now;
        const net::SocketAddr source = addr("127.0.0.1", static_cast<std::uint16_t>(6000 + index));
        const Received hello(must(message::HelloNodePeerMessage::build(
            kNetworkId, key, Pow(), std::nullopt, self_id().pk(), kStart, message::ShortId::random())));
        const auto candidate = node->node_peer_candidate(hello.header(), kOtherSource);
        ASSERT_TRUE(candidate);
        const auto stored = node->store_node_peer(*candidate);
        ASSERT_TRUE(stored);
        const auto& peer = *stored;
        const auto view = must(message::HelloNodePeerMessage::parse(hello.parsed.body, hello.header(), std::nullopt));
        node::UdpTransmits udp;
        node::TcpTransmits tcp;
        ASSERT_TRUE(
            node->on_node_peer_hello(source, binding.get(), hello.header(), *peer, view, std::nullopt, sent, udp, tcp));
        const Received ack(
            must(message::AckMessage::build(kNetworkId, key, Pow(), std::nullopt, self_id().pk(), kStart)));
        const auto ack_view = must(message::AckMessage::parse(ack.parsed.body, ack.header(), std::nullopt));
        ASSERT_TRUE(node->on_node_peer_ack(source, binding.get(), ack.header(), *peer, ack_view, std::nullopt, sent));
        peer->validate_pow(Pow(), 0);
        (void)node->peers().find_by_short_id(peer->rx_short_id());
        (void)peer->is_reachable(now, kHelloTimeout);
      }
    }
  }

  // The housekeeping: the node's steps and a walk over every peer, while the clock moves on.
  void housekeep(const std::atomic<bool>& receiving) {
    while (receiving.load()) {
      now += kHelloTimeout / 4;
      node->remove_stale_peers_housekeeping();
      for (const auto& [key, entry] : node->peers().snapshot()) {
        if (const auto peer = peer::as_node_peer(entry)) {
          peer->remove_stale_paths(now, kHelloTimeout);
          peer->update_best_relay(now, kHelloTimeout, node->peers().default_route());
          if (!peer->is_reachable(now, kHelloTimeout)) peer->set_tx_short_id(std::nullopt);
        }
      }
      node->default_route_housekeeping();
      node->send_handles_housekeeping();
    }
  }

  // A sender: takes handles and reads their states as a send would.
  void send(const std::atomic<bool>& receiving) {
    while (receiving.load()) {
      for (int index = 0; index < kPeersPerReader; ++index) {
        const auto handle = must(node->send_handle(key_number(0, index)));
        const auto state = handle->state();
        if (state->best_direct_path) (void)state->best_direct_path->addr.port();
        state->app_tx->store(now);
        (void)node->peers().default_route();
      }
    }
  }
};

TEST_F(NodeTablesConcurrency, ReceiversHousekeepingAndSendersShareTheTables) {
  make_node({.arm_messages = false, .min_pow_difficulty = 0});
  wall = kStart;  // the HELLOs' times; only the interval clock moves on
  std::atomic<bool> receiving{true};
  std::vector<std::thread> threads;
  std::thread housekeeping([&] { housekeep(receiving); });
  std::thread sender([&] { send(receiving); });
  for (int reader = 0; reader < kReaders; ++reader) threads.emplace_back([this, reader] { receive(reader); });
  for (auto& thread : threads) thread.join();
  receiving = false;
  housekeeping.join();
  sender.join();

  for (const auto& [key, entry] : node->peers().snapshot()) {
    if (const auto peer = peer::as_node_peer(entry)) {
      EXPECT_EQ(node->peers().find_by_short_id(peer->rx_short_id()), key);
    }
  }
  EXPECT_TRUE(node->peers().find_super_peer(super_id().pk()));
}

}  // namespace
}  // namespace valdori::p2p::node_test
