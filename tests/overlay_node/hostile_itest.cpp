// A node under hostile traffic on loopback: senders whose HELLOs never authenticate take no place
// in its peers table, real peers still join, and a HELLO of a real peer replayed from another
// address is not answered and adds no path.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <thread>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include "p2p_core/crypto/key_conversion.hpp"
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

  Traffic b_to_a(*this, must(b.send_handle(id_a.pk())), 'b');
  ASSERT_TRUE(wait_until([&] {
    b_to_a.send_next();
    const auto peer = peer_of(a, id_b.pk());
    return peer && peer->tx_short_id().has_value();  // A has taken a HELLO of B
  }));
  b_to_a.expect_delivered_to(*sink_a, id_b.pk());

  // A HELLO of B that A has taken, captured and sent again from elsewhere.
  const Bytes captured = hello(a, id_b, tx_key(id_b, id_a.pk()), system_time_ms());
  asio::ip::udp::socket first_hop(io, {asio::ip::address_v4::loopback(), 0});
  first_hop.send_to(asio::buffer(captured), to_a);
  std::array<std::uint8_t, 2048> answer;
  ASSERT_GT(first_hop.receive(asio::buffer(answer)), 0u);  // its ACK
  asio::ip::udp::socket replayer(io, {asio::ip::address_v4::loopback(), 0});
  replayer.send_to(asio::buffer(captured), to_a);
  replayer.non_blocking(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  boost::system::error_code ec;
  replayer.receive(asio::buffer(answer), 0, ec);
  EXPECT_EQ(ec, asio::error::would_block);
  const auto paths = peer_of(a, id_b.pk())->paths().snapshot();
  for (const auto& [key, path] : *paths) EXPECT_NE(key.remote, replayer.local_endpoint());
}

}  // namespace
}  // namespace valdori::node::testing
