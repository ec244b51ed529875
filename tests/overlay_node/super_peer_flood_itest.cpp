// Two nodes and their super peer under attack on loopback: links that never send take every
// place in the super peer's link table, and a flood of self-made identities greets it while its
// registry holds one place beside the nodes. One node relays over UDP, the other over its TCP
// link; every message of theirs arrives.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>

#include "p2p_core/message/control_messages.hpp"
#include "p2p_core/message/endpoints.hpp"
#include "p2p_core/node/clock.hpp"
#include "p2p_core/peer/session_keys.hpp"
#include "tests/overlay_node/node_fixture.hpp"
#include "tests/support/log_capture.hpp"

namespace valdori::node::testing {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;

// Valid HELLOs to the super peer from `count` identities made for the purpose.
std::vector<Bytes> flood_hellos(const p2p::SuperPeerUrl& url, std::size_t count) {
  std::vector<Bytes> hellos;
  for (std::size_t i = 0; i < count; ++i) {
    const auto id = test_identity();
    const auto keys = must(p2p::peer::session_keys_for(must(p2p::peer::AgreementKeys::from_identity(id)), url.pk()));
    hellos.push_back(must(p2p::message::HelloSuperPeerMessage::build(url.network_id_bytes(), id.pk(), id.pow(),
                                                                     keys->tx, url.pk(), p2p::node::system_time_ms(),
                                                                     p2p::message::encode_endpoints({}))));
  }
  return hellos;
}

bool closed_by_peer(asio::ip::tcp::socket& socket) {
  socket.non_blocking(true);
  return wait_until([&] {
    std::array<std::uint8_t, 1> byte;
    boost::system::error_code ec;
    socket.read_some(asio::buffer(byte), ec);
    return ec && ec != asio::error::would_block;
  });
}

TEST_F(NodeTest, UnderAFloodLiveNodesKeepRelayingEveryMessage) {
  const valdori::testing::LogCapture logs;
  auto options = default_super_peer_options();
  options.unite_enabled = false;  // every message goes through the super peer
  options.max_nodes = 3;
  options.hello_interval = 1s;  // nodes greet ten times as often
  options.max_tcp_links = 2;
  start_super_peer(options);
  const auto& url = super_peer_->url();

  asio::io_context io;
  std::vector<asio::ip::tcp::socket> silent_links;
  for (std::size_t i = 0; i < options.max_tcp_links; ++i)
    silent_links.emplace_back(io).connect({asio::ip::make_address(url.host()), url.tcp_port()});

  const auto [id_a, id_b, sink_a, sink_b, a, b] = bind_pair({}, {.enforce_tcp = true});
  EXPECT_TRUE(closed_by_peer(silent_links.front()));  // B's link took its place

  Traffic a_to_b(*this, must(a.send_handle(id_b.pk())), 'a');
  Traffic b_to_a(*this, must(b.send_handle(id_a.pk())), 'b');
  ASSERT_TRUE(wait_until([&] {
    a_to_b.send_next();
    b_to_a.send_next();
    return sink_a->count() > 0 && sink_b->count() > 0;
  }));

  // About 2,000 HELLOs a second, from one address.
  const auto hellos = flood_hellos(url, 500);
  std::atomic<bool> flooding = true;
  std::thread flood([&] {
    asio::ip::udp::socket socket(io, {asio::ip::address_v4::loopback(), 0});
    const asio::ip::udp::endpoint to(asio::ip::make_address(url.host()), url.port());
    for (std::size_t i = 0; flooding; ++i) {
      socket.send_to(asio::buffer(hellos[i % hellos.size()]), to);
      if (i % 20 == 19) std::this_thread::sleep_for(10ms);
    }
  });
  for (int i = 0; i < 100; ++i) {
    EXPECT_TRUE(a_to_b.send_next());
    EXPECT_TRUE(b_to_a.send_next());
    std::this_thread::sleep_for(10ms);
  }
  flooding = false;
  flood.join();
  a_to_b.expect_delivered_to(*sink_b, id_a.pk());
  b_to_a.expect_delivered_to(*sink_a, id_b.pk());
  EXPECT_TRUE(logs.has_containing(log::Level::warn, "all registered nodes are live"));
}

}  // namespace
}  // namespace valdori::node::testing
