// Hand-driven overlay nodes for the super peer tests: each owns an identity and plain sockets,
// builds its messages with the codecs and reads the super peer's answers byte by byte.
#pragma once

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "p2p_core/crypto/session_keys.hpp"
#include "p2p_core/identity/identity.hpp"
#include "p2p_core/identity/super_peer_url.hpp"
#include "p2p_core/message/layout.hpp"
#include "p2p_core/net/socket_addr.hpp"
#include "p2p_core/node/clock.hpp"
#include "tests/support/must.hpp"
#include "tools/super_peer/server/super_peer.hpp"
#include "util/runtime/runtime.hpp"

namespace valdori::super_peer::testing {

using Bytes = std::vector<std::uint8_t>;

// An application payload to relay: the start of an IPv4 header.
inline const Bytes kPayload{0x45, 0x00, 0x00, 0x1c, 0xde, 0xad, 0xbe, 0xef};
using p2p::net::SocketAddr;

// Low, so that identities are found at once; the super peer is started with the same minimum.
inline constexpr std::uint8_t kTestDifficulty = 4;
inline constexpr std::uint32_t kNetworkId = 7;
// Safety net only: answers on loopback come long before.
inline constexpr std::chrono::seconds kAnswerLimit{10};
// How long a test listens to be sure that nothing comes.
inline constexpr std::chrono::milliseconds kSilence{300};

using valdori::testing::must;

p2p::Identity test_identity();
p2p::crypto::SessionKeys session_keys(const p2p::Identity& own, const p2p::PubKey& peer);

// One node's side: its identity and the messages it builds.
class NodeSide {
 public:
  NodeSide(const p2p::Identity& identity, const p2p::SuperPeerUrl& super_peer);

  const p2p::Identity& identity() const { return identity_; }
  const p2p::PubKey& pk() const { return identity_.pk(); }
  const p2p::crypto::SessionKeys& super_peer_keys() const { return super_peer_keys_; }

  Bytes hello(std::uint64_t time, std::span<const SocketAddr> candidates, bool armed = true) const;
  // An APP to `peer`, armed with the keys the two nodes share.
  Bytes app_to(const p2p::PubKey& peer, std::span<const std::uint8_t> payload) const;
  // The time an ACK from the super peer echoes; fails the test for anything else.
  std::uint64_t ack_time(Bytes message, bool armed = true) const;
  // The peer and endpoints of a UNITE from the super peer; fails the test for anything else.
  std::pair<p2p::PubKey, std::vector<SocketAddr>> unite(Bytes message) const;
  // The payload of an APP relayed from `peer`; fails the test for anything else.
  Bytes app_from(const p2p::PubKey& peer, Bytes message) const;

 private:
  p2p::Identity identity_;
  p2p::SuperPeerUrl super_peer_;
  p2p::crypto::SessionKeys super_peer_keys_;
};

// A node that talks to the super peer over UDP.
class UdpNode : public NodeSide {
 public:
  UdpNode(boost::asio::io_context& io, const p2p::SuperPeerUrl& super_peer,
          const p2p::Identity& identity = test_identity());

  SocketAddr endpoint() const { return socket_.local_endpoint(); }
  void send(std::span<const std::uint8_t> message);
  std::optional<Bytes> receive(std::chrono::milliseconds limit = kAnswerLimit);

 private:
  boost::asio::ip::udp::socket socket_;
  SocketAddr super_peer_endpoint_;
};

// A node that talks to the super peer over a TCP link, connected from the start (from `local`
// when given).
class TcpNode : public NodeSide {
 public:
  TcpNode(boost::asio::io_context& io, const p2p::SuperPeerUrl& super_peer,
          std::optional<boost::asio::ip::address> local = std::nullopt);

  void send(std::span<const std::uint8_t> message);
  void send_raw(std::span<const std::uint8_t> bytes);
  // As send, but false instead of an exception when the link is gone.
  bool try_send(std::span<const std::uint8_t> message);
  // The next frame; nothing when the limit passes or the link ends.
  std::optional<Bytes> receive(std::chrono::milliseconds limit = kAnswerLimit);
  // True when the super peer closes the link within the limit.
  bool closed_by_super_peer(std::chrono::milliseconds limit = kAnswerLimit);

 private:
  bool read_exactly(std::span<std::uint8_t> out, std::chrono::milliseconds limit);

  boost::asio::ip::tcp::socket socket_;
  bool ended_ = false;
};

// Runs `body` on a thread of its own in a new network namespace whose loopback is up, so that the
// sockets it opens may use addresses of their own; false when the namespace cannot be made (not
// root).
bool in_new_network_namespace(const std::function<void()>& body);

// A super peer on its own runtime, with the nodes' io_context beside it.
class SuperPeerTest : public ::testing::Test {
 public:
  static SuperPeerOptions default_options();

 protected:
  void start(const SuperPeerOptions& options = default_options());
  const p2p::SuperPeerUrl& url() const { return super_peer_->url(); }

  // Greets the super peer and checks that its first answer is the ACK.
  template <class Node>
  void greet(Node& node, std::span<const SocketAddr> candidates = {}) {
    const std::uint64_t time = ++next_time_;
    expect_acked(node, node.hello(time, candidates), time);
  }

  // Sends `hello`, of `time`, and checks that the super peer's first answer is its ACK.
  template <class Node>
  void expect_acked(Node& node, std::span<const std::uint8_t> hello, std::uint64_t time) {
    node.send(hello);
    auto answer = node.receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ(node.ack_time(*answer), time);
  }

  // `from` sends `payload` to `to`, and the super peer relays it to `to` intact.
  template <class From, class To>
  void expect_relayed(From& from, To& to, const Bytes& payload) {
    from.send(from.app_to(to.pk(), payload));
    auto relayed = to.receive();
    ASSERT_TRUE(relayed);
    EXPECT_EQ(to.app_from(from.pk(), *relayed), payload);
  }

  boost::asio::io_context io_;
  util::Runtime runtime_{2};
  std::unique_ptr<SuperPeer> super_peer_;
  std::uint64_t next_time_ = p2p::node::system_time_ms();
};

}  // namespace valdori::super_peer::testing
