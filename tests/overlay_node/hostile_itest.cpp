// A node under hostile traffic on loopback: senders whose HELLOs never authenticate take no place
// in its peers table, real peers still join, and a HELLO of a real peer replayed from another
// address is not answered and adds no path, while one from a clock that stepped back is. Under a
// flood of self-made identities (cheap at the test's difficulty) from one address, strangers
// whose HELLOs authenticate and messages of new keys that never do, its members keep working: one
// that comes back is admitted, and a relayed exchange loses nothing. Under a flood from many
// addresses, each within its own limit, the budget of all sources refuses strangers' key
// agreements while a member's messages all arrive.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include "p2p_core/crypto/key_conversion.hpp"
#include "p2p_core/message/app_message.hpp"
#include "p2p_core/message/control_messages.hpp"
#include "p2p_core/node/clock.hpp"
#include "tests/overlay_node/node_fixture.hpp"

namespace valdori::node::testing {
namespace {

namespace asio = boost::asio;
namespace msg = p2p::message;
using p2p::node::system_time_ms;

p2p::crypto::SessionKey tx_key(const p2p::Identity& from, const p2p::PubKey& to) {
  return must(p2p::crypto::compute_kx_session_keys(must(p2p::crypto::convert_ed25519_pk_to_curve25519_pk(from.pk())),
                                                   must(p2p::crypto::convert_ed25519_sk_to_curve25519_sk(from.sk())),
                                                   must(p2p::crypto::convert_ed25519_pk_to_curve25519_pk(to))))
      .tx;
}

Bytes hello(const Node& to, const p2p::Identity& from, std::optional<p2p::crypto::SessionKey> key, std::uint64_t time) {
  return must(msg::HelloNodePeerMessage::build(to.inner()->network_id(), from.pk(), from.pow(), key, to.inner()->pk(),
                                               time, msg::ShortId::random()));
}

// How long a node that stays silent is watched: an answer it should not give comes well before.
constexpr std::chrono::milliseconds kSilence{300};

// Whether `socket` gets an answer before `limit` passes; takes in all that comes then and shortly
// after, so that a late second answer is not taken for the next one's.
bool answered(asio::ip::udp::socket& socket, std::chrono::milliseconds limit) {
  socket.non_blocking(true);
  std::array<std::uint8_t, 2048> answer;
  const auto take_all = [&] {
    bool any = false;
    boost::system::error_code ec;
    while (socket.receive(asio::buffer(answer), 0, ec) > 0) any = true;
    return any;
  };
  if (!wait_until(take_all, limit)) return false;
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  take_all();
  return true;
}

std::shared_ptr<p2p::peer::NodePeer> peer_of(const Node& node, const p2p::PubKey& key) {
  return node.inner()->peers().find_node_peer(key);
}

TEST_F(NodeTest, ForgedHellosTakeNoPlaceAndReplayedOnesAreRefused) {
  start_super_peer();
  const auto id_a = test_identity();
  const auto id_b = test_identity();
  const auto id_c = test_identity();
  const auto sink_a = std::make_shared<CollectingSink>();
  auto opts_a = node_opts(id_a, sink_a);
  opts_a.max_peers = 3;  // the super peer and two nodes
  const Node a = bind(std::move(opts_a));
  const Node b = bind(node_opts(id_b, std::make_shared<CollectingSink>()));

  asio::io_context io;
  asio::ip::udp::socket attacker(io, {asio::ip::address_v4::loopback(), 0});
  const p2p::net::SocketAddr to_a(asio::ip::address_v4::loopback(), a.inner()->port());
  // Senders with keys of their own, armed under a key they do not share with A, or plain.
  for (int i = 0; i < 200; ++i) {
    const auto forger = test_identity();
    const auto key = i % 2 == 0 ? std::optional(tx_key(forger, id_b.pk())) : std::nullopt;
    attacker.send_to(asio::buffer(hello(a, forger, key, system_time_ms())), to_a);
  }
  // Then genuine HELLOs from the same socket, read after the forged ones by the same reader: the
  // forgers have used up the source's key agreements, so one is taken once they are refilled.
  ASSERT_TRUE(wait_until([&] {
    attacker.send_to(asio::buffer(hello(a, id_c, tx_key(id_c, id_a.pk()), system_time_ms())), to_a);
    return peer_of(a, id_c.pk()) != nullptr;
  }));
  EXPECT_EQ(a.inner()->peers().size(), 2u);

  // Until A has taken a HELLO of B, what B sends may meet A's limit on key agreements, which the
  // forgers from the same address used up: only what B sends after that must all arrive.
  const auto b_handle = must(b.send_handle(id_a.pk()));
  ASSERT_TRUE(wait_until([&] {
    (void)send(*b_handle, payload('w', 0, 8));
    const auto peer = peer_of(a, id_b.pk());
    return peer && peer->tx_short_id().has_value();
  }));
  std::vector<Bytes> sent;
  for (std::size_t i = 0; i < 20; ++i) {
    sent.push_back(payload('b', i, 1 + i * 37));
    ASSERT_TRUE(send(*b_handle, sent.back()).has_value());
  }
  const auto arrived = [&] {
    std::size_t n = 0;
    for (const auto& [key, message] : sink_a->messages())
      n += key == id_b.pk() && std::ranges::find(sent, message) != sent.end() ? 1 : 0;
    return n;
  };
  ASSERT_TRUE(wait_until([&] { return arrived() >= sent.size(); }));
  EXPECT_EQ(arrived(), sent.size());  // each once

  // A HELLO of B that A has taken, captured and sent again from elsewhere. Its time lies a second
  // ahead: B's node counts its own times up by one for each HELLO within a millisecond, and a time
  // it has used would make this a replay already.
  const Bytes captured = hello(a, id_b, tx_key(id_b, id_a.pk()), system_time_ms() + 1000);
  asio::ip::udp::socket first_hop(io, {asio::ip::address_v4::loopback(), 0});
  first_hop.send_to(asio::buffer(captured), to_a);
  ASSERT_TRUE(answered(first_hop, kWaitLimit));
  asio::ip::udp::socket replayer(io, {asio::ip::address_v4::loopback(), 0});
  replayer.send_to(asio::buffer(captured), to_a);
  EXPECT_FALSE(answered(replayer, kSilence));
  const auto paths = peer_of(a, id_b.pk())->paths().snapshot();
  for (const auto& [key, path] : *paths) EXPECT_NE(key.remote, replayer.local_endpoint());
}

// The sender's clock went back 30 s between two HELLOs: the second is served at once, and only
// an exact replay is refused.
TEST_F(NodeTest, AHelloAfterABackwardClockStepIsServedWhileAReplayIsNot) {
  start_super_peer();
  const auto id_a = test_identity();
  const auto id_b = test_identity();
  const Node a = bind(node_opts(id_a, std::make_shared<CollectingSink>()));
  asio::io_context io;
  asio::ip::udp::socket b(io, {asio::ip::address_v4::loopback(), 0});
  asio::ip::udp::socket replayer(io, {asio::ip::address_v4::loopback(), 0});
  const p2p::net::SocketAddr to_a(asio::ip::address_v4::loopback(), a.inner()->port());
  const std::uint64_t now = system_time_ms();
  b.send_to(asio::buffer(hello(a, id_b, tx_key(id_b, id_a.pk()), now)), to_a);
  ASSERT_TRUE(answered(b, kWaitLimit));
  const Bytes stepped_back = hello(a, id_b, tx_key(id_b, id_a.pk()), now - 30'000);
  b.send_to(asio::buffer(stepped_back), to_a);
  EXPECT_TRUE(answered(b, kWaitLimit));
  for (auto* from : {&replayer, &b}) {
    from->send_to(asio::buffer(stepped_back), to_a);
    EXPECT_FALSE(answered(*from, kSilence));
  }
}

constexpr std::size_t kForgers = 300;
constexpr std::size_t kStrangers = 2000;
// The flood is paced so that a loaded test machine does not overrun the node's socket buffer:
// what is measured is the node's work per datagram, not the kernel's queue.
constexpr auto kFloodGap = std::chrono::microseconds(200);

// Sends rounds of datagrams from a thread of its own until it is destroyed. A round sends what
// `round` sends for its number and returns how many datagrams that was.
class FloodThread {
 public:
  FloodThread(std::function<std::size_t(std::size_t)> round, std::chrono::microseconds gap)
      : thread_([this, round = std::move(round), gap] {
          for (std::size_t n = 0; !stop_.load(); ++n) {
            sent_.fetch_add(round(n));
            std::this_thread::sleep_for(gap);
          }
        }) {}
  ~FloodThread() {
    stop_ = true;
    thread_.join();
  }
  FloodThread(const FloodThread&) = delete;
  FloodThread& operator=(const FloodThread&) = delete;

  std::uint64_t sent() const { return sent_.load(); }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> sent_{0};
  std::thread thread_;  // last: it starts once the counters exist
};

// Sends from one socket until stopped: an armed HELLO of each forger in turn, each followed by
// an APP of one of many other identities under a key nobody shares.
class Flood {
 public:
  explicit Flood(const Node& target) : thread_(round(*target.inner()), kFloodGap) {}
  std::uint64_t sent() const { return thread_.sent(); }

 private:
  static std::function<std::size_t(std::size_t)> round(const p2p::node::NodeInner& node) {
    std::vector<std::pair<p2p::Identity, p2p::crypto::SessionKey>> forgers;
    for (std::size_t i = 0; i < kForgers; ++i) {
      auto forger = test_identity();
      const auto key = tx_key(forger, node.pk());
      forgers.emplace_back(std::move(forger), key);
    }
    std::vector<Bytes> apps;
    for (std::size_t i = 0; i < kStrangers; ++i) {
      const auto stranger = test_identity();
      apps.push_back(must(msg::AppMessage::build(node.network_id(), stranger.pk(), stranger.pow(),
                                                 p2p::crypto::SessionKey{}, node.pk(), Bytes(64, 0x45))));
    }
    auto io = std::make_shared<asio::io_context>();
    auto socket =
        std::make_shared<asio::ip::udp::socket>(*io, asio::ip::udp::endpoint{asio::ip::address_v4::loopback(), 0});
    const asio::ip::udp::endpoint to(asio::ip::address_v4::loopback(), node.port());
    return [io, socket, to, forgers = std::move(forgers), apps = std::move(apps), network_id = node.network_id(),
            target_pk = node.pk()](std::size_t n) -> std::size_t {
      const auto& [forger, key] = forgers[n % forgers.size()];
      socket->send_to(
          asio::buffer(must(msg::HelloNodePeerMessage::build(network_id, forger.pk(), forger.pow(), key, target_pk,
                                                             p2p::node::system_time_ms(), msg::ShortId::random()))),
          to);
      socket->send_to(asio::buffer(apps[n % apps.size()]), to);
      return 2;
    };
  }

  FloodThread thread_;
};

TEST_F(NodeTest, MembersKeepWorkingThroughAFloodOfSelfMadeIdentities) {
  auto options = default_super_peer_options();
  options.unite_enabled = false;  // B's traffic to A stays relayed
  start_super_peer(options);
  const auto id_a = test_identity();
  const auto id_b = test_identity();
  const auto id_c = test_identity();
  const auto sink_a = std::make_shared<CollectingSink>();
  auto opts_a = node_opts(id_a, sink_a);
  opts_a.max_peers = 16;  // strangers get 4
  const Node a = bind(std::move(opts_a));
  a.inner()->set_members(std::make_shared<p2p::node::MemberKeys>(p2p::node::MemberKeys{id_b.pk(), id_c.pk()}));
  const Node b = bind(node_opts(id_b, std::make_shared<CollectingSink>()));
  const Node c = bind(node_opts(id_c, std::make_shared<CollectingSink>()));
  ASSERT_TRUE(
      wait_until([&] { return super_peer_reachable(a) && super_peer_reachable(b) && super_peer_reachable(c); }));
  // C was a peer of A, whose entry then expired.
  Traffic c_to_a(*this, must(c.send_handle(id_a.pk())), 'c');
  ASSERT_TRUE(c_to_a.send_next());
  c_to_a.expect_delivered_to(*sink_a, id_c.pk());
  a.inner()->peers().remove_node_peer(a.inner()->peers().find_node_peer(id_c.pk()));

  const Flood flood(a);
  ASSERT_TRUE(wait_until([&] { return a.inner()->stranger_count() == 4; }));
  Traffic b_to_a(*this, must(b.send_handle(id_a.pk())), 'b');
  for (int i = 0; i < 200; ++i) {
    ASSERT_TRUE(b_to_a.send_next());
    ASSERT_TRUE(c_to_a.send_next());
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  c_to_a.expect_delivered_to(*sink_a, id_c.pk());
  b_to_a.expect_delivered_to(*sink_a, id_b.pk());
  EXPECT_FALSE(b_to_a.handle().state()->best_direct_path);
  EXPECT_GT(flood.sent(), 1000u);
  EXPECT_EQ(a.inner()->stranger_count(), 4u);
  EXPECT_TRUE(a.inner()->peers().find_node_peer(id_b.pk()));
  EXPECT_TRUE(a.inner()->peers().find_node_peer(id_c.pk()));
}

constexpr std::size_t kFloodSources = 256;
constexpr std::size_t kKeysPerSource = 16;  // 4,096 keys in all: more than the node caches
// A round sends one datagram from every source: 20 a second from each, within its own limit.
constexpr auto kRoundGap = std::chrono::milliseconds(50);

// Sends from 127.77.n.1 for n below kFloodSources until stopped, a round at a time: APPs of keys
// that each source has of its own, under a key nobody shares, so that none authenticates.
class SpreadFlood {
 public:
  explicit SpreadFlood(const Node& target) : thread_(round(*target.inner()), kRoundGap) {}
  std::uint64_t sent() const { return thread_.sent(); }

 private:
  static std::function<std::size_t(std::size_t)> round(const p2p::node::NodeInner& node) {
    std::vector<Bytes> apps;
    for (std::size_t i = 0; i < kFloodSources * kKeysPerSource; ++i) {
      const auto stranger = test_identity();
      apps.push_back(must(msg::AppMessage::build(node.network_id(), stranger.pk(), stranger.pow(),
                                                 p2p::crypto::SessionKey{}, node.pk(), Bytes(64, 0x45))));
    }
    auto io = std::make_shared<asio::io_context>();
    auto sockets = std::make_shared<std::vector<asio::ip::udp::socket>>();
    for (std::size_t n = 0; n < kFloodSources; ++n)
      sockets->emplace_back(
          *io, asio::ip::udp::endpoint(asio::ip::address_v4({127, 77, static_cast<std::uint8_t>(n), 1}), 0));
    const asio::ip::udp::endpoint to(asio::ip::address_v4::loopback(), node.port());
    return [io, sockets, to, apps = std::move(apps)](std::size_t round) -> std::size_t {
      for (std::size_t n = 0; n < kFloodSources; ++n)
        (*sockets)[n].send_to(asio::buffer(apps[(round % kKeysPerSource) * kFloodSources + n]), to);
      return kFloodSources;
    };
  }

  FloodThread thread_;
};

TEST_F(NodeTest, AMembersMessagesArriveWhileStrangersFromManyAddressesSpendTheAgreementBudget) {
  start_super_peer();
  const auto id_a = test_identity();
  const auto id_b = test_identity();
  const auto sink_a = std::make_shared<CollectingSink>();
  const Node a = bind(node_opts(id_a, sink_a));
  a.inner()->set_members(std::make_shared<p2p::node::MemberKeys>(p2p::node::MemberKeys{id_b.pk()}));
  const Node b = bind(node_opts(id_b, std::make_shared<CollectingSink>()));
  ASSERT_TRUE(wait_until([&] { return super_peer_reachable(a) && super_peer_reachable(b); }));

  const SpreadFlood flood(a);
  // Each source keeps within its own limit: what is refused, the budget of all refuses.
  ASSERT_TRUE(wait_until([&] { return a.inner()->agreements_over_budget() > 0; }));
  Traffic b_to_a(*this, must(b.send_handle(id_a.pk())), 'b');
  for (int i = 0; i < 200; ++i) {
    ASSERT_TRUE(b_to_a.send_next());
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  b_to_a.expect_delivered_to(*sink_a, id_b.pk());
  EXPECT_GT(flood.sent(), 4 * kFloodSources);
  EXPECT_EQ(a.inner()->stranger_count(), 0u);
}

}  // namespace
}  // namespace valdori::node::testing
