// Registration under a flood of self-made identities: live nodes are never forgotten to make
// room, registrations and new keys per address are bounded, no node that was forgotten can be
// taken over by a replay of its HELLO, and no HELLOs dated ahead lock a registered node out.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "tests/support/log_capture.hpp"
#include "tests/tools/super_peer/harness.hpp"

namespace valdori::super_peer::testing {
namespace {

using namespace std::chrono_literals;

// A registry of `max_nodes` where a node is live for 100 ms after its HELLO, and traffic stays
// relayed.
SuperPeerOptions small_registry(std::size_t max_nodes) {
  SuperPeerOptions options = SuperPeerTest::default_options();
  options.max_nodes = max_nodes;
  options.hello_interval = 50ms;
  options.unite_enabled = false;
  return options;
}

std::vector<std::unique_ptr<UdpNode>> udp_nodes(boost::asio::io_context& io, const p2p::SuperPeerUrl& url,
                                                std::size_t count) {
  std::vector<std::unique_ptr<UdpNode>> nodes;
  for (std::size_t i = 0; i < count; ++i) nodes.push_back(std::make_unique<UdpNode>(io, url));
  return nodes;
}

// A greets and falls silent; a flood of newcomers pushes it out of the registry. Its captured
// HELLO, replayed from another address or from its own, is refused, and relays for A reach
// neither; A's next HELLO registers it again where it is.
TEST_F(SuperPeerTest, AFloodThatEvictsANodeLetsNoReplayOfItsHelloThrough) {
  constexpr std::size_t kMaxNodes = 4;
  start(small_registry(kMaxNodes));
  UdpNode a(io_, url());
  const Bytes captured = a.hello(++next_time_, {});
  expect_acked(a, captured, next_time_);
  std::this_thread::sleep_for(150ms);  // A is no longer live

  const auto flood = udp_nodes(io_, url(), kMaxNodes);
  for (const auto& node : flood) greet(*node);
  UdpNode& sender = *flood.back();  // the flood member that is forgotten last
  sender.send(sender.app_to(a.pk(), kPayload));
  EXPECT_FALSE(a.receive(kSilence));  // A is forgotten

  UdpNode replayer(io_, url());
  for (auto* from : {&replayer, &a}) {
    from->send(captured);
    EXPECT_FALSE(from->receive(kSilence));
  }
  sender.send(sender.app_to(a.pk(), kPayload));
  EXPECT_FALSE(replayer.receive(kSilence));

  std::this_thread::sleep_for(150ms);  // the flood is no longer live either
  greet(a);
  expect_relayed(sender, a, kPayload);
  EXPECT_FALSE(replayer.receive(kSilence));
}

// Messages relayed to a silent node are no sign of its life: a newcomer takes its place.
TEST_F(SuperPeerTest, ANodeThatOnlyReceivesRelaysMakesRoom) {
  start(small_registry(2));
  UdpNode silent(io_, url());
  greet(silent);
  std::this_thread::sleep_for(150ms);
  UdpNode talker(io_, url());
  greet(talker);
  talker.send(talker.app_to(silent.pk(), kPayload));
  ASSERT_TRUE(silent.receive());
  UdpNode newcomer(io_, url());
  greet(newcomer);
}

// Two nodes are registered; a third is refused, for the reason of the case, while the two keep
// relaying to each other and greeting.
TEST_F(SuperPeerTest, NewcomersAreRefusedWhileRegisteredNodesKeepRelaying) {
  struct Case {
    const char* name;
    std::size_t max_nodes;
    std::uint32_t registration_burst;
    const char* logged;
  };
  const Case cases[] = {
      {"registry full of live nodes", 2, 64, "all registered nodes are live"},
      {"registrations from the address used up", 64, 2, "too many registrations from that address"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const valdori::testing::LogCapture logs;
    SuperPeerOptions options = default_options();
    options.max_nodes = c.max_nodes;
    options.registration_burst = c.registration_burst;
    options.registration_interval = 1h;
    options.unite_enabled = false;
    start(options);
    UdpNode a(io_, url());
    UdpNode b(io_, url());
    greet(a);
    greet(b);
    UdpNode newcomer(io_, url());
    newcomer.send(newcomer.hello(++next_time_, {}));
    EXPECT_FALSE(newcomer.receive(kSilence));
    EXPECT_TRUE(logs.has_containing(log::Level::warn, c.logged));
    for (std::uint8_t round = 0; round < 3; ++round) {
      expect_relayed(a, b, Bytes{round});
      greet(a);
      greet(b);
    }
  }
}

// A hundred new keys at once from one address: key agreements beyond the burst are not made,
// so most HELLOs go unanswered, while a registered node behind the same address is served.
TEST_F(SuperPeerTest, NewKeysPerAddressAreRateLimitedAndRegisteredNodesAreNot) {
  const valdori::testing::LogCapture logs;
  start();
  UdpNode registered(io_, url());
  greet(registered);
  const auto strangers = udp_nodes(io_, url(), 100);
  std::vector<Bytes> hellos;
  for (const auto& node : strangers) hellos.push_back(node->hello(++next_time_, {}));
  for (std::size_t i = 0; i < strangers.size(); ++i) strangers[i]->send(hellos[i]);
  greet(registered);
  std::size_t answered = 0;
  for (const auto& node : strangers) answered += node->receive(0ms).has_value() ? 1 : 0;
  EXPECT_LT(answered, strangers.size() / 2);
  EXPECT_TRUE(logs.has_containing(log::Level::warn, "too many new keys from that address"));
}

// HELLOs of 96 self-made identities dated nearly a window ahead, from eight loopback addresses so
// that each address stays within its allowance of key agreements.
class FloodAhead {
 public:
  FloodAhead(boost::asio::io_context& io, const p2p::SuperPeerUrl& url)
      : to_(boost::asio::ip::make_address(url.host()), url.port()) {
    for (std::uint8_t host = 2; host < 10; ++host)
      sockets_.emplace_back(io, SocketAddr(boost::asio::ip::make_address_v4(fmt::format("127.0.0.{}", host)), 0));
    const std::uint64_t ahead = p2p::node::system_time_ms() + 55'000;
    for (std::size_t i = 0; i < 96; ++i) hellos_.push_back(NodeSide(test_identity(), url).hello(ahead, {}));
  }

  void send_all() {
    for (std::size_t i = 0; i < hellos_.size(); ++i)
      sockets_[i % sockets_.size()].send_to(boost::asio::buffer(hellos_[i]), to_);
  }

 private:
  SocketAddr to_;
  std::vector<boost::asio::ip::udp::socket> sockets_;
  std::vector<Bytes> hellos_;
};

// A (over UDP) and B (over its TCP link) keep greeting and relaying while the flood greets again
// and again, many more senders than the replay window holds. None of A's or B's HELLOs is
// refused (each greeting checks its ACK), their messages arrive during the flood and after it,
// and a HELLO of A captured before it stays a replay. With the registry full the strangers leave
// no record; with places falling free those that register fill the window, and later strangers
// are refused for now. Last in the file: its lines use up the log limits of the lines that the
// tests before it look for.
TEST_F(SuperPeerTest, HellosDatedAheadNeverLockOutRegisteredNodes) {
  struct Case {
    const char* name;
    std::size_t max_nodes;  // a replay window of four times as many senders
    bool window_fills;
  };
  const Case cases[] = {
      {"registry full", 2, false},
      {"places falling free", 10, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const valdori::testing::LogCapture logs;
    SuperPeerOptions options = small_registry(c.max_nodes);
    options.hello_interval = 200ms;  // live for 400 ms: A and B greet well within that
    start(options);
    FloodAhead flood(io_, url());
    UdpNode a(io_, url());
    TcpNode b(io_, url());
    const Bytes captured = a.hello(++next_time_, {});
    expect_acked(a, captured, next_time_);
    greet(b);

    const auto deadline = std::chrono::steady_clock::now() + kAnswerLimit;
    for (std::size_t round = 0;
         round < 10 || (c.window_fills && !logs.has_containing(log::Level::warn, "refused for now")); ++round) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline);
      flood.send_all();
      greet(a);
      greet(b);
      const Bytes payload{static_cast<std::uint8_t>(round)};
      expect_relayed(a, b, payload);
      expect_relayed(b, a, payload);
      std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(logs.has_containing(log::Level::warn, "refused for now"), c.window_fills);

    greet(a);
    greet(b);
    expect_relayed(a, b, kPayload);
    a.send(captured);
    EXPECT_FALSE(a.receive(kSilence));
  }
}

}  // namespace
}  // namespace valdori::super_peer::testing
