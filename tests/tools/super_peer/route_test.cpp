// Where relays for a node go, on the dispatcher's own clock. A HELLO of the node that the super
// peer never took (lost on the way, or refused) is taken once when replayed, over another node's
// TCP link too; that link is the node's route only while no path of the node's own carries a
// newer HELLO.
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "p2p_core/node/clock.hpp"
#include "tests/tools/super_peer/harness.hpp"
#include "tools/super_peer/server/dispatcher.hpp"
#include "tools/super_peer/server/tcp_link.hpp"

namespace valdori::super_peer::testing {
namespace {

using namespace std::chrono_literals;
namespace ip = boost::asio::ip;

class DispatcherRoute : public ::testing::Test {
 protected:
  // A link for the dispatcher to see frames arrive by; its far end stays open.
  std::shared_ptr<TcpLink> link() {
    ip::tcp::acceptor acceptor(io_, {ip::address_v4::loopback(), 0});
    far_ends_.emplace_back(io_).connect(acceptor.local_endpoint());
    return std::make_shared<TcpLink>(acceptor.accept(), p2p::message::kDefaultMaxMessageLen);
  }

  // A HELLO of `node` at `now`: whether it is answered, by the way it came.
  bool greets(const NodeSide& node, const Route& arrival, Clock::time_point now, std::optional<Bytes> hello = {}) {
    Bytes message = hello ? *hello : node.hello(++time_, {});
    const auto out = dispatcher_->dispatch(message, arrival, now);
    return out.size() == 1 && describe(out.front().route) == describe(arrival);
  }

  // Where a message from B to A goes at `now`.
  std::string route_to_a(Clock::time_point now) {
    Bytes message = b_.app_to(a_.pk(), kPayload);
    const auto out = dispatcher_->dispatch(message, Route{kSourceOfB}, now);
    return out.empty() ? "nowhere" : describe(out.front().route);
  }

  const SocketAddr kSourceOfA{ip::make_address("192.0.2.1"), 4000};
  const SocketAddr kSourceOfB{ip::make_address("192.0.2.2"), 4000};
  const p2p::Identity identity_ = test_identity();
  const std::unique_ptr<Dispatcher> dispatcher_ = must(Dispatcher::create(identity_, SuperPeerTest::default_options()));
  const p2p::SuperPeerUrl url_ = must(p2p::SuperPeerUrl::try_from(
      fmt::format("udp://127.0.0.1:1?publicKey={}&networkId={}", identity_.pk(), kNetworkId)));
  const NodeSide a_{test_identity(), url_};
  const NodeSide b_{test_identity(), url_};
  std::uint64_t time_ = p2p::node::system_time_ms();
  boost::asio::io_context io_;
  std::vector<ip::tcp::socket> far_ends_;
};

TEST_F(DispatcherRoute, AReplayedHelloOlderThanTheNodesOwnTakesNoRouteAndAQuietLinkIsTheLastResort) {
  const Clock::time_point start = Clock::now();
  const Bytes lost = a_.hello(++time_, {});
  const Bytes also_lost = a_.hello(++time_, {});
  ASSERT_TRUE(greets(a_, Route{kSourceOfA}, start));
  ASSERT_TRUE(greets(b_, Route{kSourceOfB}, start));
  const auto replayers_link = link();

  // Older than the HELLO A's source carried: taken, but the route stays with A's source.
  ASSERT_TRUE(greets(a_, Route{replayers_link}, start + 1s, lost));
  EXPECT_EQ(route_to_a(start + 1s), describe(Route{kSourceOfA}));
  for (auto at = start + 5s; at <= start + 20s; at += 5s) ASSERT_TRUE(greets(a_, Route{kSourceOfA}, at));
  EXPECT_EQ(route_to_a(start + 20s), describe(Route{kSourceOfA}));

  // A's own link, while it answers, is not taken over.
  const auto own_link = link();
  ASSERT_TRUE(greets(a_, Route{own_link}, start + 22s));
  ASSERT_TRUE(greets(a_, Route{replayers_link}, start + 23s, also_lost));
  EXPECT_EQ(route_to_a(start + 23s), describe(Route{own_link}));
  // Nothing answers: the link still open rather than the source heard last.
  EXPECT_EQ(route_to_a(start + 60s), describe(Route{own_link}));
}

// A node on TCP fallback: the HELLOs it makes for its UDP path never arrive, and one replayed over
// another link registers it there, before its own link comes up.
TEST_F(DispatcherRoute, TheNodesOwnLinkTakesTheRouteFromAReplayersLinkAtOnceAndForGood) {
  const Clock::time_point start = Clock::now();
  std::vector<Bytes> captured;
  for (int i = 0; i < 4; ++i) captured.push_back(a_.hello(++time_, {}));
  ASSERT_TRUE(greets(b_, Route{kSourceOfB}, start));
  const auto replayers_link = link();
  ASSERT_TRUE(greets(a_, Route{replayers_link}, start, captured[0]));
  EXPECT_EQ(route_to_a(start), describe(Route{replayers_link}));

  const auto own_link = link();
  for (int pass = 0; pass < 12; ++pass) {
    const auto at = start + 1s + pass * 5s;
    ASSERT_TRUE(greets(a_, Route{own_link}, at));
    if (pass % 4 == 3) {
      ASSERT_TRUE(greets(a_, Route{replayers_link}, at + 1s, captured[pass / 4 + 1]));
    }
    EXPECT_EQ(route_to_a(at + 1s), describe(Route{own_link}));
  }
}

}  // namespace
}  // namespace valdori::super_peer::testing
