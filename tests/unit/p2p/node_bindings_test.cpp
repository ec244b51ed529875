// UDP bindings of the node state: sockets sharing a port, following the wanted addresses,
// guards, endpoint candidates and the local addresses.
#include <gtest/gtest.h>

#include "node_fixture.hpp"
#include "p2p_core/message/endpoints.hpp"
#include "p2p_core/message/hello_super_peer_message.hpp"
#include "p2p_core/net/get_addrs.hpp"
#include "p2p_core/node/guards.hpp"

namespace valdori::p2p::node_test {
namespace {

namespace ip = boost::asio::ip;

const ip::address kLoopback = ip::make_address("127.0.0.1");

class NodeBindings : public NodeFixture {};

TEST_F(NodeBindings, SocketsShareOnePort) {
  const auto first = must(node::new_udp_reuseport(io.get_executor(), addr("127.0.0.1", 0)));
  const auto port = first->local_endpoint().port();
  const auto second = node::new_udp_reuseport(io.get_executor(), {kLoopback, port});
  ASSERT_TRUE(second);
  EXPECT_EQ((*second)->local_endpoint().port(), port);
}

TEST_F(NodeBindings, AnAddressThatIsNotLocalCannotBeBound) {
  const auto socket = node::new_udp_reuseport(io.get_executor(), addr("192.0.2.1", 0));
  ASSERT_FALSE(socket);
  EXPECT_EQ(socket.error(), std::errc::address_not_available);
}

TEST_F(NodeBindings, FollowTheInterfaceAddresses) {
  make_node();
  const net::InterfaceAddr lo{"lo", kLoopback};
  EXPECT_TRUE(node->udp_bindings_housekeeping(std::vector{lo}).empty());  // bound already
  EXPECT_EQ(*node->udp_bindings(), node::UdpBindings{binding});

  EXPECT_TRUE(node->udp_bindings_housekeeping({}).empty());  // the address went away
  EXPECT_TRUE(node->udp_bindings()->empty());
  EXPECT_TRUE(binding->token().is_cancelled());

  const auto added = node->udp_bindings_housekeeping(std::vector{lo});  // and came back
  ASSERT_EQ(added.size(), 1u);
  EXPECT_EQ(added[0]->local_addr(), binding->local_addr());
  EXPECT_EQ(added[0]->interface_name(), "lo");
  EXPECT_EQ(*node->udp_bindings(), added);
  EXPECT_FALSE(added[0]->token().is_cancelled());
  token.cancel();
  EXPECT_TRUE(added[0]->token().is_cancelled());  // a child of the node token
}

TEST_F(NodeBindings, ConfiguredAddressesWinAndACancelledBindingIsReplaced) {
  make_node({.udp_addrs = {kLoopback}});
  EXPECT_TRUE(node->udp_bindings_housekeeping({}).empty());  // interface addresses do not matter
  binding->cancel_binding();
  EXPECT_FALSE(node->udp_socket_for(binding->local_addr()));
  const auto added = node->udp_bindings_housekeeping({});
  ASSERT_EQ(added.size(), 1u);
  EXPECT_EQ(added[0]->local_addr(), binding->local_addr());
  EXPECT_EQ(node->udp_socket_for(binding->local_addr()), added[0]->socket());
}

TEST_F(NodeBindings, PortZeroBindsTheFirstSocketAndReusesItsPort) {
  make_node({.udp_addrs = {kLoopback}, .udp_sockets = 2, .bound = false});
  EXPECT_EQ(node->port(), 0);
  const auto added = node->udp_bindings_housekeeping({});
  ASSERT_EQ(added.size(), 2u);
  EXPECT_NE(node->port(), 0);
  EXPECT_EQ(added[0]->local_addr().port(), node->port());
  EXPECT_EQ(added[1]->local_addr().port(), node->port());
}

TEST_F(NodeBindings, ReleasedReaderGuardForgetsItsBinding) {
  make_node();
  { node::UdpBindingGuard guard(node, binding); }
  EXPECT_TRUE(node->udp_bindings()->empty());
  EXPECT_TRUE(binding->token().is_cancelled());
}

TEST_F(NodeBindings, ReleasedLinkGuardWithdrawsTheLink) {
  make_node();
  const auto record = super_peer->new_tcp_path(token);
  record->set_stream(std::make_shared<IdleLinkWriter>());
  { node::TcpPathGuard guard(node, super_id().pk(), record); }
  EXPECT_FALSE(super_peer->tcp_connection());
  EXPECT_FALSE(record->stream());
  EXPECT_TRUE(record->token().is_cancelled());
  EXPECT_FALSE(token.is_cancelled());
}

TEST_F(NodeBindings, EndpointCandidatesAreTheUsableAddressesOnTheNodePort) {
  make_node();
  const std::vector<ip::address> addrs{kLoopback, ip::make_address("0.0.0.0"), ip::make_address("::1")};
  const auto encoded = node->my_endpoint_candidates(addrs);
  const auto list = must(message::EndpointList::parse(encoded));
  const std::vector<net::SocketAddr> endpoints(list.begin(), list.end());
  EXPECT_EQ(endpoints,
            (std::vector<net::SocketAddr>{{kLoopback, node->port()}, {ip::make_address("::1"), node->port()}}));
}

TEST_F(NodeBindings, EndpointCandidatesAlwaysFitAHello) {
  make_node();
  std::vector<ip::address> many;
  for (std::uint16_t i = 1; i <= 100; ++i) {
    ip::address_v6::bytes_type bytes{0x20, 0x01, 0x0d, 0xb8};
    bytes[14] = static_cast<std::uint8_t>(i >> 8);
    bytes[15] = static_cast<std::uint8_t>(i);
    many.emplace_back(ip::address_v6(bytes));
  }
  const auto encoded = node->my_endpoint_candidates(many);
  const auto hello = message::HelloSuperPeerMessage::build(kNetworkId, self_id().pk(), self_id().pow(),
                                                           crypto::SessionKey{}, super_id().pk(), now, encoded);
  ASSERT_TRUE(hello);
  EXPECT_LE(hello->size(), node->max_message_len());
  EXPECT_EQ(must(message::EndpointList::parse(encoded)).size(), message::kMaxEndpoints);
}

TEST(GetAddrs, OnlyRealInterfacesAreBindable) {
  struct Case {
    const char* name;
    net::InterfaceAddr entry;
    bool loopback_interface;
    bool bindable;
  };
  const Case cases[] = {
      {"an Ethernet address", {"eth0", ip::make_address("192.0.2.7")}, false, true},
      {"a global IPv6 address", {"eth0", ip::make_address("2001:db8::7")}, false, true},
      {"the loopback interface", {"lo", ip::make_address("192.0.2.8")}, true, false},
      {"an IPv4 loopback address", {"eth0", ip::make_address("127.0.0.2")}, false, false},
      {"the IPv6 loopback address", {"eth0", ip::make_address("::1")}, false, false},
      {"an IPv4 link-local address", {"eth0", ip::make_address("169.254.3.4")}, false, false},
      {"an IPv6 link-local address", {"eth0", ip::make_address("fe80::1")}, false, false},
      {"the agent's tunnel", {"tun7", ip::make_address("10.77.0.1")}, false, false},
      {"another tunnel", {"tun8", ip::make_address("10.78.0.1")}, false, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(net::is_bindable(c.entry, c.loopback_interface, "tun7"), c.bindable) << c.name;
  }
  // The machine's own list holds bindable entries only, and leaves out the tunnel named.
  const auto addrs = must(net::get_addrs());
  EXPECT_TRUE(
      std::ranges::all_of(addrs, [](const auto& e) { return !e.name.empty() && net::is_bindable(e, false, ""); }));
  if (!addrs.empty()) {
    const auto without = must(net::get_addrs(addrs.front().name));
    EXPECT_TRUE(std::ranges::none_of(without, [&](const auto& e) { return e.name == addrs.front().name; }));
  }
}

}  // namespace
}  // namespace valdori::p2p::node_test
