// The housekeeping step of one node peer: short ids, path clean-up, the traffic gate, direct
// and relayed HELLOs, and the relay choice.
#include "overlay_node/peer/node_peer_housekeeping.hpp"

#include <set>

#include <gtest/gtest.h>

#include "p2p_core/message/control_messages.hpp"
#include "tests/overlay_node/node_task_fixture.hpp"

namespace valdori::node_test {
namespace {

using log::Level;
using p2p::message::ShortId;

class NodePeerHousekeeping : public NodeTaskTest {
 protected:
  void SetUp() override {
    make_node({.second_super_peer = true});
    peer = admit_other();
  }

  boost::system::result<void, p2p::node::error::Error> step() {
    return run(peer::node_peer_housekeeping(node, peer, now));
  }

  // A direct path from the node's binding to `remote`.
  std::shared_ptr<p2p::peer::PeerPath> add_path(const p2p::net::SocketAddr& remote) {
    return peer->add_path({binding->local_addr(), remote}).first;
  }

  // The short id a HELLO from the node to the other identity carries.
  std::optional<ShortId> hello_short_id(Bytes message) const {
    auto parsed = p2p::message::LongHeader::parse(message);
    if (!parsed || parsed->header.recipient() != other_id().pk()) return std::nullopt;
    const auto hello =
        p2p::message::HelloNodePeerMessage::parse(parsed->body, parsed->header, key_from_node(other_id()));
    if (!hello) return std::nullopt;
    return hello->short_id();
  }

  std::shared_ptr<p2p::peer::NodePeer> peer;
};

TEST_F(NodePeerHousekeeping, AReceiveShortIdIsDrawnOnlyWhenNoneIsAssigned) {
  const ShortId assigned = peer->rx_short_id();
  ASSERT_TRUE(step());
  EXPECT_EQ(peer->rx_short_id(), assigned);

  peer->set_rx_short_id(ShortId{});
  ASSERT_TRUE(step());
  const ShortId drawn = peer->rx_short_id();
  EXPECT_TRUE(drawn.is_valid());
  EXPECT_EQ(node->peers().find_by_short_id(drawn), other_id().pk());
}

TEST_F(NodePeerHousekeeping, WithoutTrafficNothingIsSentAndOnlyRelayPathsStay) {
  auto remote = remote_socket();
  add_path(remote.local_endpoint());
  peer->add_path({addr("127.0.0.1", 1), remote.local_endpoint()});  // no binding has this address
  peer->relay_paths().get_or_insert(super_id().pk(), [] { return std::make_shared<p2p::peer::PeerPath>(); });
  peer->set_tx_short_id(ShortId::random());

  ASSERT_TRUE(step());
  EXPECT_TRUE(logs.has_containing(Level::trace, "Remove UDP path without corresponding binding"));
  EXPECT_TRUE(logs.has_containing(Level::trace, "No app traffic"));
  EXPECT_TRUE(received(remote).empty());
  EXPECT_EQ(peer->paths().size(), 0u);
  EXPECT_EQ(peer->relay_paths().size(), 1u);
  EXPECT_TRUE(logs.has_containing(Level::trace, "Node is not directly reachable."));
  EXPECT_FALSE(peer->tx_short_id());  // long headers until a direct path answers again
}

TEST_F(NodePeerHousekeeping, TrafficGreetsEveryDirectPathWithTheReceiveShortId) {
  auto first = remote_socket();
  auto second = remote_socket();
  const auto first_path = add_path(first.local_endpoint());
  const auto second_path = add_path(second.local_endpoint());
  peer->add_path({addr("127.0.0.1", 1), first.local_endpoint()});
  peer->app_rx(now);
  wall = now - 100'000;  // the wall clock, which HELLO times are read on, stands apart

  ASSERT_TRUE(step());
  EXPECT_EQ(peer->paths().size(), 2u);  // the one without a binding went
  for (auto* socket : {&first, &second}) {
    const auto datagrams = received(*socket);
    ASSERT_EQ(datagrams.size(), 1u);
    EXPECT_EQ(hello_short_id(datagrams.front()), peer->rx_short_id());
  }
  // Each HELLO of the pass carries a time of its own, which its path records.
  EXPECT_EQ(std::set({first_path->inner()->sent_hellos.back().time, second_path->inner()->sent_hellos.back().time}),
            std::set({wall.load(), wall + 1}));
}

// Answered before an hour's suspend (both clocks an hour on, as after a resume), a path is not.
TEST_F(NodePeerHousekeeping, AReachableDirectPathClearsTheRelayPaths) {
  for (const std::uint64_t answered_ago : {std::uint64_t{1}, std::uint64_t{3'600'000}}) {
    SCOPED_TRACE(answered_ago);
    const bool reachable = answered_ago == 1;
    now = kStart;
    SetUp();
    logs.clear();
    auto remote = remote_socket();
    add_path(remote.local_endpoint())->ack_rx(p2p::node_test::us(now), now - 1, remote.local_endpoint());
    now += answered_ago - 1;
    peer->relay_paths().get_or_insert(super_id().pk(), [] { return std::make_shared<p2p::peer::PeerPath>(); });
    const auto tx_short_id = ShortId::random();
    peer->set_tx_short_id(tx_short_id);
    peer->app_rx(now);

    ASSERT_TRUE(step());
    EXPECT_EQ(logs.has_containing(Level::trace, "Reachable direct paths available, cleared relay paths."), reachable);
    EXPECT_EQ(peer->relay_paths().size(), reachable ? 0u : 2u);  // else every super peer relays a HELLO
    EXPECT_EQ(peer->tx_short_id() == tx_short_id, reachable);
  }
}

TEST_F(NodePeerHousekeeping, WithoutADirectPathEverySuperPeerRelaysAHello) {
  const auto writer = std::make_shared<RecordingLinkWriter>();
  super_peer->new_tcp_path(token)->set_stream(writer);  // the first super peer has a published link
  peer->app_rx(now);

  ASSERT_TRUE(step());
  ASSERT_EQ(writer->frames().size(), 1u);
  EXPECT_EQ(hello_short_id(writer->frames().front()), peer->rx_short_id());
  EXPECT_TRUE(logs.has_containing(Level::trace, "Sent relayed HELLO to node peer via super peer TCP"));
  EXPECT_TRUE(logs.has_containing(
      Level::trace, fmt::format("No TCP connection/stream available to super peer {}", second_super_id().pk())));
  EXPECT_TRUE(logs.has_containing(Level::trace,
                                  fmt::format("Sent relayed HELLO to node peer via super peer {} UDP local_addr={}",
                                              second_super_id().pk(), binding->local_addr())));

  const auto relays = peer->relay_paths().snapshot();
  ASSERT_EQ(relays->size(), 2u);
  std::set<std::uint64_t> times;
  for (const auto& [key, relay] : *relays) times.insert(relay->inner()->sent_hellos.back().time);
  EXPECT_EQ(times, std::set({now.load(), now + 1}));

  now += 1000;
  ASSERT_TRUE(step());
  for (const auto& [key, relay] : *relays) EXPECT_EQ(peer->relay_paths().find(key), relay);  // reused, not replaced
}

TEST_F(NodePeerHousekeeping, AHelloThatCannotBeBuiltEndsTheStep) {
  struct Case {
    const char* name;
    bool direct_path;
  };
  for (const Case c : {Case{"direct", true}, Case{"relayed", false}}) {
    SCOPED_TRACE(c.name);
    SetUp();
    auto remote = remote_socket();
    if (c.direct_path) add_path(remote.local_endpoint());
    peer->set_rx_short_id(ShortId{{0x1E, 0x3F, 0x50, 0x01}});  // the long-header magic: never valid
    peer->app_rx(now);

    const auto result = step();
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().is<p2p::node::error::MessageError>());
    EXPECT_TRUE(received(remote).empty());
  }
}

}  // namespace
}  // namespace valdori::node_test
