// Binding a node: its sockets and port, its super peers, and the option values that refuse it.
#include "overlay_node/node/node.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/this_coro.hpp>

#include "p2p_core/node/opts_builder.hpp"
#include "tests/overlay_node/node_task_fixture.hpp"

namespace valdori::node_test {
namespace {

namespace asio = boost::asio;
using log::Level;
using BindResult = boost::system::result<node::Node, p2p::node::error::Error>;

const auto kLoopback = asio::ip::make_address("127.0.0.1");

p2p::SuperPeerUrl url(const std::string& host_port, const p2p::PubKey& key, std::uint32_t network_id = 7) {
  return must(p2p::SuperPeerUrl::try_from(
      fmt::format("udp://{}?publicKey={}&networkId={}&tcpPort=9", host_port, key.to_string(), network_id)));
}

p2p::node::NodeOptsBuilder options() {
  p2p::node::NodeOptsBuilder builder;
  builder.id(self_id())
      .message_sink(std::make_shared<p2p::node_test::CapturingSink>())
      .udp_addrs({kLoopback})
      .udp_port(0)
      .udp_sockets(1)
      .super_peers({url("127.0.0.1:9", super_id().pk())});
  return builder;
}

asio::awaitable<void> bind_into(std::optional<BindResult>& outcome, p2p::node::NodeOpts opts) {
  outcome.emplace(co_await node::Node::bind(co_await asio::this_coro::executor, std::move(opts)));
}

class Bind : public NodeTaskTest {
 protected:
  BindResult bind(p2p::node::NodeOptsBuilder& builder) {
    std::optional<BindResult> outcome;
    asio::co_spawn(io, bind_into(outcome, must(builder.build())), [](std::exception_ptr failure) {
      if (failure) std::rethrow_exception(failure);
    });
    EXPECT_TRUE(run_until([&] { return outcome.has_value(); }));
    return std::move(*outcome);
  }
};

struct BindRefusalCase {
  std::string name;
  std::function<void(p2p::node::NodeOptsBuilder&)> change;
  std::string error;  // the error's debug form, or its start
};

class BindRefusal : public Bind, public ::testing::WithParamInterface<BindRefusalCase> {};

TEST_P(BindRefusal, EndsBindWithTheError) {
  auto builder = options();
  GetParam().change(builder);
  const auto result = bind(builder);
  ASSERT_FALSE(result);
  const std::string debug = p2p::node::error::debug(result.error());
  EXPECT_TRUE(debug.starts_with(GetParam().error)) << debug;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BindRefusal,
    ::testing::Values(
        BindRefusalCase{"NoSuperPeers", [](auto& b) { b.super_peers({}); }, "NoSuperPeers"},
        BindRefusalCase{
            "SuperPeersOfTwoNetworks",
            [](auto& b) {
              b.super_peers({url("127.0.0.1:9", super_id().pk(), 1), url("127.0.0.1:10", second_super_id().pk(), 2)});
            },
            "SuperPeerNetworkIdMismatch([0, 0, 0, 1], [0, 0, 0, 2])"}),
    [](const ::testing::TestParamInfo<BindRefusalCase>& param) { return param.param.name; });

TEST_F(Bind, AConfiguredAddressThatCannotBeBoundIsNamed) {
  auto builder = options();
  builder.udp_addrs({asio::ip::make_address("192.0.2.1")}).udp_port(4000);
  const auto result = bind(builder);
  ASSERT_FALSE(result);
  const auto error = result.error();
  const auto* failed = error.get_if<p2p::node::error::BindError>();
  ASSERT_NE(failed, nullptr);
  EXPECT_EQ(failed->addr, addr("192.0.2.1", 4000));
}

TEST_F(Bind, PortZeroTakesTheFirstSocketsPortForAll) {
  auto builder = options();
  builder.udp_sockets(3);
  const auto started = must(bind(builder));
  const auto bindings = started.inner()->udp_bindings();
  ASSERT_EQ(bindings->size(), 3u);
  const auto port = bindings->front()->local_addr().port();
  EXPECT_NE(port, 0);
  for (const auto& each : *bindings) EXPECT_EQ(each->local_addr().port(), port);
}

TEST_F(Bind, WithoutConfiguredAddressesTheInterfacesAreBoundOnTheKeysPortLessTheTunnel) {
  const auto interfaces = must(p2p::net::get_addrs());
  const std::string tunnel = interfaces.empty() ? "" : interfaces.front().name;
  auto builder = options();
  builder.udp_addrs({}).udp_port(std::nullopt).tunnel_interface(tunnel);
  const auto started = must(bind(builder));

  std::vector<p2p::net::SocketAddr> expected;
  for (const auto& entry : must(p2p::net::get_addrs(tunnel)))
    expected.emplace_back(entry.addr, self_id().pk().udp_port());
  std::vector<p2p::net::SocketAddr> bound;
  for (const auto& each : *started.inner()->udp_bindings()) bound.push_back(each->local_addr());
  EXPECT_EQ(bound, expected);
}

TEST_F(Bind, ANodeWithoutSocketsStillStarts) {
  auto builder = options();
  builder.udp_sockets(0);
  const auto started = must(bind(builder));
  EXPECT_TRUE(started.inner()->udp_bindings()->empty());
  EXPECT_TRUE(logs.has_containing(Level::warn, "Could not bind to any UDP addresses."));
  EXPECT_EQ(started.inner()->peers().find_super_peer(super_id().pk())->udp_paths().size(), 0u);
}

TEST_F(Bind, SuperPeersAreBuiltOnePerKeyTheLaterWinningAndAnUnresolvedOneWithoutPaths) {
  auto builder = options();
  builder.super_peers({url("127.0.0.1:9", super_id().pk()), url("127.0.0.1:10", super_id().pk()),
                       url("nonexistent.invalid:9", second_super_id().pk())});
  const auto started = must(bind(builder));
  ASSERT_EQ(started.inner()->super_peers().size(), 2u);
  const auto configured = started.inner()->peers().find_super_peer(super_id().pk());
  EXPECT_EQ(configured->addr(), "127.0.0.1:10");
  EXPECT_EQ(configured->udp_paths().size(), 1u);
  EXPECT_TRUE(configured->rx_key());
  const auto unresolved = started.inner()->peers().find_super_peer(second_super_id().pk());
  EXPECT_FALSE(unresolved->resolved_addrs());
  EXPECT_EQ(unresolved->udp_paths().size(), 0u);
}

}  // namespace
}  // namespace valdori::node_test
