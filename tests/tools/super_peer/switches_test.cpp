// The test switches turn UDP, TCP or introductions off and leave the rest working.
#include <gtest/gtest.h>

#include <boost/asio/error.hpp>

#include "tests/tools/super_peer/harness.hpp"

namespace valdori::super_peer::testing {
namespace {

const Bytes kPayload{9, 8, 7};

TEST_F(SuperPeerTest, WithUdpOffOnlyTcpIsServed) {
  SuperPeerOptions options = default_options();
  options.udp_enabled = false;
  start(options);
  UdpNode a(io_, url());
  TcpNode b(io_, url());
  a.send(a.hello(1, {}));
  greet(b);
  EXPECT_FALSE(a.receive(kSilence));
}

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

TEST_F(SuperPeerTest, WithUniteOffRelaysWithoutIntroductions) {
  SuperPeerOptions options = default_options();
  options.unite_enabled = false;
  start(options);
  UdpNode a(io_, url());
  UdpNode b(io_, url());
  greet(a);
  greet(b);
  a.send(a.app_to(b.pk(), kPayload));
  auto relayed = b.receive();
  ASSERT_TRUE(relayed);
  EXPECT_EQ(b.app_from(a.pk(), *relayed), kPayload);
  // A UNITE would reach each node before the answer to its next HELLO.
  greet(a);
  greet(b);
}

}  // namespace
}  // namespace valdori::super_peer::testing
