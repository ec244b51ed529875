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

TEST_F(NodeBindings, SocketsShareOnePortOfALocalAddress) {
  const auto first = must(node::new_udp_reuseport(io.get_executor(), addr("127.0.0.1", 0)));
  const auto port = first->local_endpoint().port();
  const auto second = node::new_udp_reuseport(io.get_executor(), {kLoopback, port});
  ASSERT_TRUE(second);
  EXPECT_EQ((*second)->local_endpoint().port(), port);
  EXPECT_EQ(node::new_udp_reuseport(io.get_executor(), addr("192.0.2.1", 0)).error(), std::errc::address_not_available);
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

// Port 0, released guards and links: tests/overlay_node (bind, lifecycle, TCP link).
TEST_F(NodeBindings, EndpointCandidatesAreTheUsableAddressesOnTheNodePort) {
  make_node();
  const std::vector<ip::address> addrs{kLoopback, ip::make_address("0.0.0.0"), ip::make_address("::1")};
  const auto encoded = node->my_endpoint_candidates(addrs);
  const auto list = must(message::EndpointList::parse(encoded));
  const std::vector<net::SocketAddr> endpoints(list.begin(), list.end());
  EXPECT_EQ(endpoints,
            (std::vector<net::SocketAddr>{{kLoopback, node->port()}, {ip::make_address("::1"), node->port()}}));
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
