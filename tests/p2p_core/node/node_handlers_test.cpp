// What admission and the message handlers change in the node's tables, and the replies they queue.
#include <gtest/gtest.h>

#include "node_fixture.hpp"
#include "p2p_core/message/app_message.hpp"
#include "p2p_core/message/control_messages.hpp"
#include "tests/support/clock/clock_shim.hpp"

namespace valdori::p2p::node_test {
namespace {

using node::TcpTransmits;
using node::UdpTransmits;

class NodeHandlers : public NodeFixture {
 protected:
  // Runs the HELLO handler the way the dispatcher does.
  boost::system::result<void, node::error::Error> deliver_hello(peer::NodePeer& peer, std::vector<std::uint8_t> bytes,
                                                                const net::SocketAddr& source,
                                                                const node::UdpBinding* via,
                                                                const std::optional<PubKey>& arrival_link) {
    Received hello(std::move(bytes));
    const auto view = must(message::HelloNodePeerMessage::parse(hello.parsed.body, hello.header(), peer.rx_key()));
    if (auto taken = node->take_hello_time(peer.key(), view.time(), node->wall_time()); !taken) return taken;
    return node->on_node_peer_hello(source, via, hello.header(), peer, view, arrival_link, now, udp, tcp);
  }

  boost::system::result<void, node::error::Error> deliver_ack(peer::NodePeer& peer, std::vector<std::uint8_t> bytes,
                                                              const net::SocketAddr& source,
                                                              const node::UdpBinding* via) {
    Received ack(std::move(bytes));
    const auto view = must(message::AckMessage::parse(ack.parsed.body, ack.header(), peer.rx_key()));
    return node->on_node_peer_ack(source, via, ack.header(), peer, view, std::nullopt, now);
  }

  UdpTransmits udp;
  TcpTransmits tcp;
};

TEST_F(NodeHandlers, AdmitsAnUnknownSenderWithItsShortIdIndexed) {
  make_node();
  const auto peer = admit_other();
  ASSERT_TRUE(peer);
  EXPECT_EQ(peer->key(), other_id().pk());
  EXPECT_EQ(peer->pow(), peer::PowStatus::Ok);
  EXPECT_TRUE(peer->rx_short_id().is_valid());
  EXPECT_EQ(node->peers().find_by_short_id(peer->rx_short_id()), other_id().pk());
  EXPECT_EQ(node->peers().find_node_peer(other_id().pk()), peer);
  EXPECT_TRUE(peer->rx_key().has_value());
}

// Proof of work and the peer limit are refused in dispatch, before any handler runs.
TEST_F(NodeHandlers, TheNodeItselfIsNoPeer) {
  make_node();
  const Received hello(must(message::HelloNodePeerMessage::build(
      kNetworkId, self_id().pk(), self_id().pow(), std::nullopt, self_id().pk(), now, message::ShortId::random())));
  const auto admitted = node->node_peer_candidate(hello.header(), kOtherSource);
  ASSERT_FALSE(admitted);
  EXPECT_TRUE(admitted.error().is<node::error::SendToSelf>());
  EXPECT_EQ(node->peers().size(), 1u);
}

TEST_F(NodeHandlers, AdmittingAKnownSenderAgainKeepsTheStoredPeer) {
  make_node();
  const auto first = admit_other();
  const auto second = admit_other();
  EXPECT_EQ(first, second);
  EXPECT_EQ(node->peers().size(), 2u);
}

TEST_F(NodeHandlers, DirectHelloIsAnsweredWithAnAckTeachesPathAndShortIdAndGreetsTheNewPathBack) {
  make_node();
  const auto peer = admit_other();
  const auto their_id = message::ShortId::random();
  ASSERT_TRUE(deliver_hello(*peer, hello_from(other_id(), now - 500, their_id), kOtherAddr, binding.get(), {}));

  ASSERT_EQ(udp.size(), 2u);
  EXPECT_TRUE(tcp.empty());
  EXPECT_EQ(udp[0].destination, kOtherAddr);
  EXPECT_EQ(udp[0].socket, binding->socket());
  Received ack(udp[0].message);
  EXPECT_EQ(ack.header().recipient(), other_id().pk());
  const auto view = must(message::AckMessage::parse(ack.parsed.body, ack.header(), key_from_node(other_id())));
  EXPECT_EQ(view.time(), now - 500);

  EXPECT_EQ(peer->tx_short_id(), their_id);
  EXPECT_TRUE(peer->paths().find({binding->local_addr(), kOtherAddr}).has_value());
  EXPECT_EQ(udp[1].destination, kOtherAddr);
  EXPECT_EQ(Received(udp[1].message).header().message_type(), message::MessageType::HELLO);

  udp.clear();  // a known path is not greeted back
  ASSERT_TRUE(deliver_hello(*peer, hello_from(other_id(), now - 400, their_id), kOtherAddr, binding.get(), {}));
  EXPECT_EQ(udp.size(), 1u);
}

TEST_F(NodeHandlers, RelayedHelloMakesNoDirectPath) {
  struct Case {
    const char* name;
    std::uint8_t hop_count;
    net::SocketAddr source;
  };
  const Case cases[] = {
      {"hop count set by a relay", 1, kOtherAddr},
      {"from a super peer's address", 0, kSuperPeerAddr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    make_node();
    udp.clear();
    const auto peer = admit_other();
    auto bytes = hello_from(other_id(), now, message::ShortId::random());
    bytes[message::kHopCountOffset] = c.hop_count;
    ASSERT_TRUE(deliver_hello(*peer, bytes, c.source, binding.get(), {}));
    EXPECT_EQ(peer->paths().size(), 0u);
    ASSERT_EQ(udp.size(), 1u);
    EXPECT_EQ(udp[0].destination, c.source);
  }
}

TEST_F(NodeHandlers, HelloOverASuperPeerLinkIsAnsweredOverThatLink) {
  make_node();
  const auto peer = admit_other();
  const auto writer = std::make_shared<IdleLinkWriter>();
  super_peer->new_tcp_path(token)->set_stream(writer);
  ASSERT_TRUE(deliver_hello(*peer, hello_from(other_id(), now, message::ShortId::random()), kSuperPeerAddr, nullptr,
                            super_id().pk()));
  EXPECT_TRUE(udp.empty());
  ASSERT_EQ(tcp.size(), 1u);
  EXPECT_EQ(tcp[0].writer, writer);
  EXPECT_EQ(tcp[0].super_peer, super_id().pk());
  EXPECT_EQ(peer->paths().size(), 0u);
}

// After a HELLO of time `now - 100` from kOtherAddr was taken.
TEST_F(NodeHandlers, HellosThatAreNotFreshAreRefusedAndChangeNothing) {
  const net::SocketAddr elsewhere = addr("127.0.0.1", 6000);
  struct Case {
    const char* name;
    std::uint64_t time;
    net::SocketAddr source;
    std::size_t error;        // the error kind; SIZE_MAX: taken
    std::uint64_t ahead = 0;  // the wall clock stood this far ahead while another sender greeted, then back
  };
  const Case cases[] = {
      {"older than the maximum age", kStart - kHelloMaxAge - 1, kOtherAddr,
       node::error::Error(node::error::HelloTooOld{}).index()},
      {"too far ahead", kStart + kHelloMaxAge + 1, kOtherAddr,
       node::error::Error(node::error::HelloTimeIsInFuture{}).index()},
      {"the one taken, from elsewhere", kStart - 100, elsewhere,
       node::error::Error(node::error::HelloReplayed{}).index()},
      {"the one taken, from where it came", kStart - 100, kOtherAddr,
       node::error::Error(node::error::HelloReplayed{}).index()},
      {"the one taken, after the wall clock went past its age and back", kStart - 100, kOtherAddr,
       node::error::Error(node::error::HelloReplayed{}).index(), kHelloMaxAge + 1},
      {"older than the one taken: the sender's clock stepped back", kStart - 30'000, kOtherAddr, SIZE_MAX},
      {"newer, from elsewhere", kStart - 99, elsewhere, SIZE_MAX},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    make_node();
    const auto peer = admit_other();
    ASSERT_TRUE(deliver_hello(*peer, hello_from(other_id(), now - 100, message::ShortId::random()), kOtherAddr,
                              binding.get(), {}));
    udp.clear();
    wall = now + c.ahead;
    ASSERT_TRUE(node->take_hello_time(PubKey::from_bytes(std::array<std::uint8_t, 32>{9}), wall, wall));
    wall = 0;
    const auto result =
        deliver_hello(*peer, hello_from(other_id(), c.time, message::ShortId::random()), c.source, binding.get(), {});
    EXPECT_EQ(result ? SIZE_MAX : result.error().index(), c.error);
    EXPECT_EQ(udp.size(), result ? (c.source == elsewhere ? 2u : 1u) : 0u);  // a new path is greeted back
    EXPECT_EQ(peer->paths().find({binding->local_addr(), elsewhere}).has_value(), result && c.source == elsewhere);
  }
}

TEST_F(NodeHandlers, AckMakesTheDirectPathReachableAndMeasuresIt) {
  make_node();
  const auto peer = admit_other();
  wall = now - 100'000;  // the echoed time's age is read on the wall clock, the latency on the interval clock
  // An ACK answers a path the node greeted; from anywhere else it adds none.
  ASSERT_TRUE(deliver_ack(*peer, ack_from(other_id(), wall - 40), kOtherAddr, binding.get()));
  EXPECT_EQ(peer->paths().size(), 0u);
  const auto path = peer->add_path({binding->local_addr(), kOtherAddr}).first;
  path->hello_tx(wall - 40, us(now - 40));
  ASSERT_TRUE(deliver_ack(*peer, ack_from(other_id(), wall - 40), kOtherAddr, binding.get()));
  EXPECT_TRUE(path->is_reachable(now, kHelloTimeout));
  EXPECT_EQ(path->inner()->latencies, std::vector<std::uint64_t>{us(40)});
  EXPECT_EQ(path->inner()->last_ack_src, kOtherAddr);
  EXPECT_TRUE(peer->is_reachable(now, kHelloTimeout));
}

TEST_F(NodeHandlers, AckFromASuperPeerAddressConfirmsTheRelayPath) {
  make_node();
  const auto peer = admit_other();
  ASSERT_TRUE(deliver_ack(*peer, ack_from(other_id(), now - 40), kSuperPeerAddr, binding.get()));
  EXPECT_EQ(peer->paths().size(), 0u);
  const auto relay = peer->relay_paths().find(super_id().pk());
  ASSERT_TRUE(relay);
  EXPECT_TRUE((*relay)->is_reachable(now, kHelloTimeout));
}

TEST_F(NodeHandlers, AckWithAnImpossibleTimeIsRefused) {
  struct Case {
    const char* name;
    std::uint64_t echoed;
    std::size_t error;
  };
  const Case cases[] = {
      {"from the future", kStart + 1, node::error::Error(node::error::AckTimeIsInFuture{}).index()},
      {"older than the maximum age", kStart - kHelloMaxAge - 1, node::error::Error(node::error::AckTooOld{}).index()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    make_node();
    const auto peer = admit_other();
    const auto result = deliver_ack(*peer, ack_from(other_id(), c.echoed), kOtherAddr, binding.get());
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().index(), c.error);
    EXPECT_EQ(peer->paths().size(), 0u);
  }
}

TEST_F(NodeHandlers, SuperPeerAckConfirmsThePathItCameOver) {
  struct Case {
    const char* name;
    std::uint64_t wall_behind;  // ms the wall clock, which the echoed time is read on, stands behind
  };
  const Case cases[] = {{"clocks alike", 0}, {"the wall clock 100 s behind the interval clock", 100'000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    make_node();
    wall = now - c.wall_behind;
    Received ack(ack_from(super_id(), wall - 10));
    const auto view = must(message::AckMessage::parse(ack.parsed.body, ack.header(), super_peer->rx_key()));

    node->on_super_peer_ack(kSuperPeerAddr, binding.get(), *super_peer, view);
    EXPECT_TRUE(super_peer->is_udp_reachable(now, kHelloTimeout));

    const auto link = super_peer->new_tcp_path(token);
    link->set_stream(std::make_shared<IdleLinkWriter>());
    node->on_super_peer_ack(kSuperPeerAddr, nullptr, *super_peer, view);
    EXPECT_TRUE(link->path().is_reachable(now, kHelloTimeout));
    wall = 0;
  }
}

TEST_F(NodeHandlers, OutdatedSuperPeerAckIsIgnored) {
  make_node();
  Received ack(ack_from(super_id(), now - kHelloMaxAge - 1));
  const auto view = must(message::AckMessage::parse(ack.parsed.body, ack.header(), super_peer->rx_key()));
  node->on_super_peer_ack(kSuperPeerAddr, binding.get(), *super_peer, view);
  EXPECT_FALSE(super_peer->is_udp_reachable(now, kHelloTimeout));
}

TEST_F(NodeHandlers, AppPayloadReachesTheSink) {
  make_node();
  const auto peer = admit_other();
  const std::vector<std::uint8_t> payload{0x45, 0, 0, 20};
  Received app(must(message::AppMessage::build(kNetworkId, other_id().pk(), other_id().pow(), key_to_node(other_id()),
                                               self_id().pk(), payload)));
  const auto view = must(message::AppMessage::parse(app.parsed.body, app.header(), peer->rx_key()));
  node->current_time();
  node->on_app(*peer, view);
  const auto delivered = sink->messages();
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].first, other_id().pk());
  EXPECT_EQ(delivered[0].second, payload);
  EXPECT_EQ(peer->app_rx_time(), kStart);
}

class NodeUnite : public NodeHandlers {
 protected:
  boost::system::result<void, node::error::Error> deliver_unite(const PubKey& about,
                                                                const std::vector<net::SocketAddr>& endpoints) {
    Received unite(must(message::UniteMessage::build(kNetworkId, super_id().pk(), super_id().pow(),
                                                     key_to_node(super_id()), self_id().pk(), about, endpoints)));
    const auto view = must(message::UniteMessage::parse(unite.parsed.body, unite.header(), super_peer->rx_key()));
    return node->on_unite(view, udp);
  }
};

TEST_F(NodeUnite, AddsThePathsTheBindingsCanUseAndGreetsEachNewOne) {
  make_node();
  const auto peer = admit_other();
  // The binding is on IPv4 loopback: only the loopback endpoint pairs with it.
  const std::vector<net::SocketAddr> endpoints{kOtherAddr, addr("192.0.2.1", 5000), addr("::1", 5000)};
  wall = now - 100'000;  // HELLO times are the wall clock's, path times the interval clock's
  ASSERT_TRUE(deliver_unite(other_id().pk(), endpoints));

  const peer::PeerPathKey key{binding->local_addr(), kOtherAddr};
  EXPECT_EQ(peer->paths().size(), 1u);
  ASSERT_TRUE(peer->paths().find(key));
  EXPECT_EQ((*peer->paths().find(key))->inner()->hello, now.load());
  ASSERT_EQ(udp.size(), 1u);
  EXPECT_EQ(udp[0].destination, kOtherAddr);
  Received hello(udp[0].message);
  EXPECT_EQ(hello.header().message_type(), message::MessageType::HELLO);
  const auto view =
      must(message::HelloNodePeerMessage::parse(hello.parsed.body, hello.header(), key_from_node(other_id())));
  EXPECT_EQ(view.short_id(), peer->rx_short_id());
  EXPECT_EQ(view.time(), wall.load());

  udp.clear();
  ASSERT_TRUE(deliver_unite(other_id().pk(), endpoints));
  EXPECT_TRUE(udp.empty());  // known paths are not greeted again here
}

TEST_F(NodeUnite, ForAPeerNotKnownChangesNothing) {
  make_node();
  ASSERT_TRUE(deliver_unite(other_id().pk(), {kOtherAddr}));
  EXPECT_TRUE(udp.empty());
  EXPECT_EQ(node->peers().size(), 1u);
}

// The clocks a node reads unless a test gives it others, moved as the machine moves them: the
// interval clock counts a suspend, as its timeouts must, and no step of the wall clock.
TEST_F(NodeHandlers, TheIntervalClockCountsASuspendAndNoStepOfTheWallClock) {
  using std::chrono::hours;
  struct Case {
    const char* name;
    void (*move)();
    double interval_moved_s;
    double wall_moved_s;
  };
  const Case cases[] = {
      {"an hour's suspend", [] { test::suspend_for(hours(1)); }, 3600, 3600},
      {"the wall clock stepped back an hour", [] { test::step_wall_clock(-hours(1)); }, 0, -3600},
  };
  make_node({.test_clocks = false});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const double interval = static_cast<double>(node->current_time());
    const double wall_clock = static_cast<double>(node->wall_time());
    c.move();
    EXPECT_NEAR((static_cast<double>(node->current_time()) - interval) / 1000, c.interval_moved_s, 1);
    EXPECT_NEAR((static_cast<double>(node->wall_time()) - wall_clock) / 1000, c.wall_moved_s, 1);
    test::reset_clocks();
  }
}

}  // namespace
}  // namespace valdori::p2p::node_test
