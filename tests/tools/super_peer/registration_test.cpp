// Registration under a flood of self-made identities: live nodes are never forgotten to make
// room, registrations and new keys per address are bounded, and no node that was forgotten can
// be taken over by a replay of its HELLO.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

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

}  // namespace
}  // namespace valdori::super_peer::testing
