// Registration, relaying and introductions between two hand-driven nodes.
#include <gtest/gtest.h>
#include <boost/asio/error.hpp>

#include "tests/tools/super_peer/harness.hpp"

namespace valdori::super_peer::testing {
namespace {

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

  expect_relayed(b, a, kPayload);
  // A second introduction would reach each node before the answer to its next HELLO.
  greet(a);
  greet(b);
}

// The switch of the tests: with TCP off, connections are refused and UDP is served.
TEST_F(SuperPeerTest, WithTcpOffConnectionsAreRefusedAndUdpIsServed) {
  SuperPeerOptions options = default_options();
  options.tcp_enabled = false;
  start(options);
  boost::asio::ip::tcp::socket socket(io_);
  boost::system::error_code ec;
  socket.connect({boost::asio::ip::make_address(url().host()), url().tcp_port()}, ec);
  EXPECT_EQ(ec, boost::asio::error::connection_refused);
  UdpNode a(io_, url());
  greet(a);
}

}  // namespace
}  // namespace valdori::super_peer::testing
