// Registration, relaying and introductions between two hand-driven nodes.
#include <gtest/gtest.h>

#include "tests/tools/super_peer/harness.hpp"

namespace valdori::super_peer::testing {
namespace {

const Bytes kPayload{0x45, 0x00, 0x00, 0x1c, 0xde, 0xad, 0xbe, 0xef};
const SocketAddr kElsewhere(boost::asio::ip::make_address("192.0.2.10"), 4000);

TEST_F(SuperPeerTest, RelaysArmedAppIntactAndUnitesBothNodesOnce) {
  start();
  UdpNode a(io_, url());
  UdpNode b(io_, url());
  const std::vector<SocketAddr> a_candidates{a.endpoint(), kElsewhere};  // the observed one again, and another
  greet(a, a_candidates);
  greet(b);

  const Bytes sent = a.app_to(b.pk(), kPayload);
  a.send(sent);
  auto relayed = b.receive();
  ASSERT_TRUE(relayed);
  Bytes expected = sent;
  expected[p2p::message::kHopCountOffset] = 1;
  EXPECT_EQ(*relayed, expected);
  EXPECT_EQ(b.app_from(a.pk(), *relayed), kPayload);

  auto to_a = a.receive();
  ASSERT_TRUE(to_a);
  EXPECT_EQ(a.unite(*to_a), std::make_pair(b.pk(), std::vector{b.endpoint()}));
  auto to_b = b.receive();
  ASSERT_TRUE(to_b);
  EXPECT_EQ(b.unite(*to_b), std::make_pair(a.pk(), std::vector{a.endpoint(), kElsewhere}));

  b.send(b.app_to(a.pk(), kPayload));
  auto back = a.receive();
  ASSERT_TRUE(back);
  EXPECT_EQ(a.app_from(b.pk(), *back), kPayload);
  // A second introduction would reach each node before the answer to its next HELLO.
  greet(a);
  greet(b);
}

TEST_F(SuperPeerTest, RelaysOverTheTcpLinkOfANodeConnectedByTcp) {
  start();
  UdpNode a(io_, url());
  TcpNode b(io_, url());
  greet(a);
  const std::vector<SocketAddr> b_candidates{kElsewhere};
  greet(b, b_candidates);

  a.send(a.app_to(b.pk(), kPayload));
  auto relayed = b.receive();
  ASSERT_TRUE(relayed);
  EXPECT_EQ(b.app_from(a.pk(), *relayed), kPayload);
  auto unite_b = b.receive();
  ASSERT_TRUE(unite_b);
  EXPECT_EQ(b.unite(*unite_b), std::make_pair(a.pk(), std::vector{a.endpoint()}));
  auto unite_a = a.receive();
  ASSERT_TRUE(unite_a);
  EXPECT_EQ(a.unite(*unite_a), std::make_pair(b.pk(), b_candidates));

  b.send(b.app_to(a.pk(), kPayload));
  auto back = a.receive();
  ASSERT_TRUE(back);
  EXPECT_EQ(a.app_from(b.pk(), *back), kPayload);
}

}  // namespace
}  // namespace valdori::super_peer::testing
