// What admission and the message handlers change in the node's tables, and the replies they queue.
#include <gtest/gtest.h>

#include "node_fixture.hpp"
#include "p2p_core/message/app_message.hpp"
#include "p2p_core/message/unite_message.hpp"

namespace valdori::p2p::node_test {
namespace {

using node::TcpTransmits;
using node::UdpTransmits;

const net::SocketAddr kOtherAddr = addr("127.0.0.1", 5000);

class NodeHandlers : public NodeFixture {
 protected:
  // Runs the HELLO handler the way the dispatcher does.
  boost::system::result<void, node::error::Error> deliver_hello(peer::NodePeer& peer, std::vector<std::uint8_t> bytes,
                                                                const net::SocketAddr& source,
                                                                const node::UdpBinding* via,
                                                                const std::optional<PubKey>& arrival_link) {
    Received hello(std::move(bytes));
    const auto view = must(message::HelloNodePeerMessage::parse(hello.parsed.body, hello.header(), peer.rx_key()));
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

TEST_F(NodeHandlers, AdmitsAnUnknownSenderOnceWithItsShortIdIndexed) {
  make_node();
  const auto peer = admit_other();
  ASSERT_TRUE(peer);
  EXPECT_EQ(peer->key(), other_id().pk());
  EXPECT_EQ(peer->pow(), peer::PowStatus::Ok);
  EXPECT_TRUE(peer->rx_key().has_value());
  EXPECT_EQ(node->peers().find_by_short_id(peer->rx_short_id()), other_id().pk());
  EXPECT_EQ(admit_other(), peer);
  EXPECT_EQ(node->peers().size(), 2u);
}

// Refused senders are the dispatcher's tests (tests/unit/node).
TEST_F(NodeHandlers, DirectHelloIsAnsweredWithAnAckAndTeachesPathAndShortId) {
  make_node();
  const auto peer = admit_other();
  const auto their_id = message::ShortId::random();
  ASSERT_TRUE(deliver_hello(*peer, hello_from(other_id(), now - 500, their_id), kOtherAddr, binding.get(), {}));

  ASSERT_EQ(udp.size(), 1u);
  EXPECT_TRUE(tcp.empty());
  EXPECT_EQ(udp[0].destination, kOtherAddr);
  EXPECT_EQ(udp[0].socket, binding->socket());
  Received ack(udp[0].message);
  EXPECT_EQ(ack.header().recipient(), other_id().pk());
  const auto view = must(message::AckMessage::parse(ack.parsed.body, ack.header(), key_from_node(other_id())));
  EXPECT_EQ(view.time(), now - 500);

  EXPECT_EQ(peer->tx_short_id(), their_id);
  EXPECT_TRUE(peer->paths().find({binding->local_addr(), kOtherAddr}).has_value());
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

TEST_F(NodeHandlers, HelloOverASuperPeerLinkIsAnsweredOverThatLinkWhileItHasAWriter) {
  make_node();
  const auto peer = admit_other();
  const auto link = super_peer->new_tcp_path(token);
  ASSERT_TRUE(deliver_hello(*peer, hello_from(other_id(), now, message::ShortId::random()), kSuperPeerAddr, nullptr,
                            super_id().pk()));
  EXPECT_TRUE(udp.empty() && tcp.empty());
  const auto writer = std::make_shared<IdleLinkWriter>();
  link->set_stream(writer);
  ASSERT_TRUE(deliver_hello(*peer, hello_from(other_id(), now, message::ShortId::random()), kSuperPeerAddr, nullptr,
                            super_id().pk()));
  EXPECT_TRUE(udp.empty());
  ASSERT_EQ(tcp.size(), 1u);
  EXPECT_EQ(tcp[0].writer, writer);
  EXPECT_EQ(tcp[0].super_peer, super_id().pk());
  EXPECT_EQ(peer->paths().size(), 0u);
}

TEST_F(NodeHandlers, HelloOlderThanTheMaximumAgeIsRefused) {
  make_node();
  const auto peer = admit_other();
  const auto result = deliver_hello(*peer, hello_from(other_id(), now - kHelloMaxAge - 1, message::ShortId::random()),
                                    kOtherAddr, binding.get(), {});
  ASSERT_FALSE(result);
  ASSERT_NE(result.error().get_if<node::error::HelloTooOld>(), nullptr);
  EXPECT_EQ(result.error().get_if<node::error::HelloTooOld>()->age_ms, kHelloMaxAge + 1);
  EXPECT_TRUE(udp.empty());
  EXPECT_FALSE(peer->tx_short_id());
}

// An ACK from the peer's own address confirms the direct path; one from a super peer's address the relay.
TEST_F(NodeHandlers, AckConfirmsThePathItCameOverAndMeasuresIt) {
  make_node();
  const auto peer = admit_other();
  ASSERT_TRUE(deliver_ack(*peer, ack_from(other_id(), now - 40), kSuperPeerAddr, binding.get()));
  EXPECT_EQ(peer->paths().size(), 0u);
  const auto relay = peer->relay_paths().find(super_id().pk());
  ASSERT_TRUE(relay);
  EXPECT_TRUE((*relay)->is_reachable(now, kHelloTimeout));

  ASSERT_TRUE(deliver_ack(*peer, ack_from(other_id(), now - 40), kOtherAddr, binding.get()));
  const auto path = peer->paths().find({binding->local_addr(), kOtherAddr});
  ASSERT_TRUE(path);
  EXPECT_TRUE((*path)->is_reachable(now, kHelloTimeout));
  EXPECT_EQ((*path)->inner()->latencies, std::vector<std::uint64_t>{40});
  EXPECT_EQ((*path)->inner()->last_ack_src, kOtherAddr);
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

TEST_F(NodeHandlers, SuperPeerAckConfirmsThePathItCameOverUnlessOutdated) {
  make_node();
  Received outdated(ack_from(super_id(), now - kHelloMaxAge - 1));
  node->on_super_peer_ack(
      kSuperPeerAddr, binding.get(), *super_peer,
      must(message::AckMessage::parse(outdated.parsed.body, outdated.header(), super_peer->rx_key())), now);
  EXPECT_FALSE(super_peer->is_udp_reachable(now, kHelloTimeout));

  Received ack(ack_from(super_id(), now - 10));
  const auto view = must(message::AckMessage::parse(ack.parsed.body, ack.header(), super_peer->rx_key()));
  node->on_super_peer_ack(kSuperPeerAddr, binding.get(), *super_peer, view, now);
  EXPECT_TRUE(super_peer->is_udp_reachable(now, kHelloTimeout));

  const auto link = super_peer->new_tcp_path(token);
  link->set_stream(std::make_shared<IdleLinkWriter>());
  node->on_super_peer_ack(kSuperPeerAddr, nullptr, *super_peer, view, now);
  EXPECT_TRUE(link->path().is_reachable(now, kHelloTimeout));
}

class NodeUnite : public NodeHandlers {
 protected:
  boost::system::result<void, node::error::Error> deliver_unite(const PubKey& about,
                                                                const std::vector<net::SocketAddr>& endpoints) {
    Received unite(must(message::UniteMessage::build(kNetworkId, super_id().pk(), super_id().pow(),
                                                     key_to_node(super_id()), self_id().pk(), about, endpoints)));
    const auto view = must(message::UniteMessage::parse(unite.parsed.body, unite.header(), super_peer->rx_key()));
    return node->on_unite(view, now, udp);
  }
};

TEST_F(NodeUnite, AddsThePathsTheBindingsCanUseAndGreetsEachNewOne) {
  make_node();
  const auto peer = admit_other();
  // The binding is on IPv4 loopback: only the loopback endpoint pairs with it.
  const std::vector<net::SocketAddr> endpoints{kOtherAddr, addr("192.0.2.1", 5000), addr("::1", 5000)};
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

}  // namespace
}  // namespace valdori::p2p::node_test
