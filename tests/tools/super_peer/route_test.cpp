// Where relays for a node go, on the dispatcher's own clock. A HELLO of the node that the super
// peer never took (lost on the way, or refused) is taken once when replayed, over another node's
// TCP link too; that link becomes the node's only with a HELLO newer than its own paths carry,
// and the node's link is its route while it answers.
#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <fmt/format.h>

#include "p2p_core/node/clock.hpp"
#include "tests/tools/super_peer/harness.hpp"
#include "tools/super_peer/server/dispatcher.hpp"
#include "tools/super_peer/server/node_registry.hpp"
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

  // Older than the HELLO A's source carried: answered, but the route stays with A's source.
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

// The limit on registrations from one address refills on the dispatcher's clock too, so that a
// step of the wall clock neither opens nor closes it.
TEST_F(DispatcherRoute, RegistrationsFromOneAddressRefillOnTheDispatchersClock) {
  SuperPeerOptions options = SuperPeerTest::default_options();
  options.registration_burst = 1;
  options.registration_interval = 1h;
  const auto dispatcher = must(Dispatcher::create(identity_, options));
  const auto answered = [&](const NodeSide& node, Clock::time_point at) {
    Bytes hello = node.hello(++time_, {});
    return dispatcher->dispatch(hello, Route{kSourceOfA}, at).size() == 1;
  };
  const Clock::time_point start = Clock::now();
  EXPECT_TRUE(answered(a_, start));
  EXPECT_FALSE(answered(b_, start + 59min));
  EXPECT_TRUE(answered(b_, start + 1h));
}

// So do key agreements with new keys from one address.
TEST_F(DispatcherRoute, NewKeysFromOneAddressRefillOnTheDispatchersClock) {
  std::vector<Bytes> hellos;  // made first, so that the wall clock barely moves while they arrive
  for (std::uint32_t i = 0; i < Dispatcher::kAgreementBurst + 2; ++i)
    hellos.push_back(NodeSide(test_identity(), url_).hello(++time_, {}));
  const auto answered = [&](Clock::time_point at) {
    Bytes hello = hellos.back();
    hellos.pop_back();
    return dispatcher_->dispatch(hello, Route{kSourceOfA}, at).size() == 1;
  };
  const Clock::time_point start = Clock::now();
  for (std::uint32_t i = 0; i < Dispatcher::kAgreementBurst; ++i) ASSERT_TRUE(answered(start));
  EXPECT_FALSE(answered(start));
  EXPECT_TRUE(answered(start + 1h));
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

// The rules on a node's record, with the HELLO times given: equal times never pass the replay
// window, but a copy of a HELLO must take no link either.
enum class Path : std::uint8_t { kSource, kReplayersSource, kOwnLink, kOtherLink, kNowhere };
struct Step {
  enum Kind : std::uint8_t { kHello, kClose, kRoute } kind;
  std::chrono::milliseconds at;
  Path path;
  std::uint64_t hello_time = 0;
};
Step hello(int at_ms, Path via, std::uint64_t time) {
  return {Step::kHello, std::chrono::milliseconds(at_ms), via, time};
}
Step closes(int at_ms, Path link) { return {Step::kClose, std::chrono::milliseconds(at_ms), link}; }
Step route(int at_ms, Path to) { return {Step::kRoute, std::chrono::milliseconds(at_ms), to}; }

TEST_F(DispatcherRoute, TheNodesLinkIsItsRouteWhileItAnswersAndHelloTimesDecideOnlyWhichLinkIsIts) {
  using enum Path;
  const struct {
    std::string_view rule;
    std::vector<Step> steps;
  } rows[] = {
      {"each pass: UDP, then the link 10 ms later",
       {hello(0, kSource, 100), route(0, kSource), hello(10, kOwnLink, 101), route(10, kOwnLink),  //
        hello(5000, kSource, 102), route(5000, kOwnLink), hello(5010, kOwnLink, 103), route(5010, kOwnLink),
        hello(10000, kSource, 104), route(10000, kOwnLink), hello(10010, kOwnLink, 105), route(10010, kOwnLink)}},
      {"each pass: the link, then UDP 10 ms later",
       {hello(0, kOwnLink, 100), hello(10, kSource, 101), route(10, kOwnLink), hello(5000, kOwnLink, 102),
        hello(5010, kSource, 103), route(5010, kOwnLink)}},
      {"a UDP replay newer than the link",
       {hello(0, kOwnLink, 100), hello(1000, kReplayersSource, 101), route(1000, kOwnLink)}},
      {"20 s of silence",
       {hello(0, kOwnLink, 100), hello(19999, kOtherLink, 99), route(19999, kOwnLink), hello(20000, kOtherLink, 98),
        route(20000, kOtherLink)}},
      {"a closed link",
       {hello(0, kOwnLink, 100), closes(1000, kOwnLink), hello(19999, kOtherLink, 99), route(19999, kNowhere),
        hello(20000, kOtherLink, 98), route(20000, kOtherLink)}},
      {"the same link, older: the node's clock stepped back",
       {hello(0, kOwnLink, 100), hello(15000, kOwnLink, 50), hello(25000, kOtherLink, 49), route(25000, kOwnLink),
        hello(26000, kOtherLink, 51), route(26000, kOtherLink)}},
      {"equal times",
       {hello(0, kOwnLink, 100), hello(1000, kOtherLink, 100), route(1000, kOwnLink), hello(2000, kSource, 101),
        hello(3000, kOtherLink, 101), route(3000, kOwnLink)}},
      {"every answering source counts, not only the first",
       {hello(0, kSource, 100), hello(1000, kReplayersSource, 110), hello(2000, kOtherLink, 105),
        route(2000, kSource)}},
      {"an answering source counts, a silent one not",
       {hello(0, kSource, 100), hello(19999, kOtherLink, 99), route(19999, kSource), hello(20000, kOtherLink, 98),
        route(20000, kOtherLink)}},
      {"a quiet open link is the last resort",
       {hello(0, kOwnLink, 100), hello(1000, kSource, 101), route(21000, kOwnLink), hello(30000, kSource, 102),
        route(30000, kSource)}},
      {"a replayer's link that came first",
       {hello(0, kOtherLink, 100), route(0, kOtherLink), hello(1000, kOwnLink, 110), route(1000, kOwnLink),
        hello(2000, kOtherLink, 101), route(2000, kOwnLink), hello(6000, kOwnLink, 111), hello(21000, kOtherLink, 102),
        route(21000, kOwnLink)}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.rule);
    const std::map<Path, Route> paths = {{kSource, Route{kSourceOfA}},
                                         {kReplayersSource, Route{SocketAddr{ip::make_address("198.51.100.7"), 5000}}},
                                         {kOwnLink, Route{link()}},
                                         {kOtherLink, Route{link()}}};
    const auto shown = [&](Path path) { return path == kNowhere ? "nowhere" : describe(paths.at(path)); };
    RegisteredNode node;
    const Clock::time_point start = Clock::now();
    for (const Step& step : row.steps) {
      const auto at = start + step.at;
      if (step.kind == Step::kRoute) {
        const auto to = node.route(at);
        EXPECT_EQ(to ? describe(*to) : "nowhere", shown(step.path)) << "at " << step.at.count() << " ms";
        continue;
      }
      const Route& via = paths.at(step.path);
      if (step.kind == Step::kClose) {
        std::get<std::shared_ptr<TcpLink>>(via)->close();
      } else if (const auto* source = std::get_if<SocketAddr>(&via)) {
        node.observe_udp_source(*source, step.hello_time, at);
      } else {
        node.observe_link(std::get<std::shared_ptr<TcpLink>>(via), step.hello_time, at);
      }
    }
  }
}

}  // namespace
}  // namespace valdori::super_peer::testing
