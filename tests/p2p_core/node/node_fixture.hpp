// A node state on loopback for the node and peer tests: a test clock, a capturing message sink,
// one super peer, one binding, and a second identity that plays a node peer with its messages.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <boost/asio/io_context.hpp>

#include "p2p_core/identity/identity.hpp"
#include "p2p_core/identity/pow.hpp"
#include "p2p_core/message/control_messages.hpp"
#include "p2p_core/message/long_header.hpp"
#include "p2p_core/node/node_inner.hpp"
#include "p2p_core/node/opts_builder.hpp"
#include "p2p_core/node/udp_socket.hpp"
#include "p2p_core/peer/session_keys.hpp"
#include "tests/support/must.hpp"

namespace valdori::p2p::node_test {

inline constexpr std::uint8_t kDifficulty = 8;
inline constexpr std::uint64_t kStart = 1'700'000'000'000;  // ms
inline constexpr std::uint64_t kHelloTimeout = 30'000;
inline constexpr std::uint64_t kHelloMaxAge = 60'000;
// The node clock's microseconds at a time in milliseconds.
constexpr std::uint64_t us(std::uint64_t ms) { return ms * 1000; }

using valdori::testing::must;

// The identity of one role, generated once for all tests.
enum class Role { Self, Other, Super, SecondSuper };
template <Role>
const Identity& identity_of() {
  static const Identity id = must(Identity::generate(kDifficulty));
  return id;
}
inline const Identity& self_id() { return identity_of<Role::Self>(); }
inline const Identity& other_id() { return identity_of<Role::Other>(); }
inline const Identity& super_id() { return identity_of<Role::Super>(); }
inline const Identity& second_super_id() { return identity_of<Role::SecondSuper>(); }

// A pow of `pk` below kDifficulty.
inline Pow weak_pow(const PubKey& pk) {
  std::int32_t value = 0;
  while (pow_meets_difficulty(pk, Pow(value), kDifficulty)) ++value;
  return Pow(value);
}

inline net::SocketAddr addr(const char* ip, std::uint16_t port) { return {boost::asio::ip::make_address(ip), port}; }

// Where the super peers of the fixture live; nothing listens there.
inline const net::SocketAddr kSuperPeerAddr = addr("127.0.0.1", 9);
inline const net::SocketAddr kOtherAddr = addr("127.0.0.1", 5000);

// A binding of no socket at a local address: enough for the paths and sends that only read it.
inline std::shared_ptr<node::UdpBinding> binding_at(const net::SocketAddr& local) {
  return std::make_shared<node::UdpBinding>(util::CancellationToken(), nullptr, local, "");
}
inline const net::SocketAddr kSecondSuperPeerAddr = addr("127.0.0.1", 10);
// Where the messages of the other identity come from.
inline const boost::asio::ip::address kOtherSource = boost::asio::ip::make_address("127.0.0.1");

inline SuperPeerUrl super_peer_url(const PubKey& key, const net::SocketAddr& at) {
  return must(SuperPeerUrl::try_from(fmt::format("udp://{}?publicKey={}&networkId=7&tcpPort=9", at, key.to_string())));
}

class CapturingSink : public node::MessageSink {
 public:
  void accept(const PubKey& sender, std::vector<std::uint8_t> message) override {
    std::lock_guard lock(mutex_);
    messages_.emplace_back(sender, std::move(message));
  }
  std::vector<std::pair<PubKey, std::vector<std::uint8_t>>> messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<PubKey, std::vector<std::uint8_t>>> messages_;
};

class IdleLinkWriter : public peer::LinkWriter {
 public:
  boost::asio::awaitable<std::error_code> write_frame(std::vector<std::uint8_t>) override {
    co_return std::error_code();
  }
};

// A received message and its parsed header, which views the bytes.
struct Received {
  explicit Received(std::vector<std::uint8_t> message)
      : bytes(std::move(message)), parsed(must(message::LongHeader::parse(bytes))) {}
  Received(const Received&) = delete;
  Received& operator=(const Received&) = delete;

  const message::LongHeader& header() const { return parsed.header; }

  std::vector<std::uint8_t> bytes;
  message::ParsedLongHeader parsed;
};

struct NodeSetup {
  bool arm_messages = true;
  std::uint64_t max_peers = 0;
  std::uint8_t min_pow_difficulty = kDifficulty;
  std::vector<boost::asio::ip::address> udp_addrs = {};
  std::size_t udp_sockets = 1;
  bool bound = true;  // one binding on 127.0.0.1 from the start; otherwise none and port 0
  bool second_super_peer = false;
  bool enforce_tcp = false;
  std::uint64_t housekeeping_interval = 5000;  // ms
  bool test_clocks = true;                     // `now` and `wall`; otherwise the node's own
};

class NodeFixture : public ::testing::Test {
 protected:
  void make_node(const NodeSetup& setup = {}) {
    sink = std::make_shared<CapturingSink>();
    std::vector<SuperPeerUrl> urls{super_peer_url(super_id().pk(), kSuperPeerAddr)};
    if (setup.second_super_peer) urls.push_back(super_peer_url(second_super_id().pk(), kSecondSuperPeerAddr));
    auto opts = must(node::NodeOptsBuilder()
                         .id(self_id())
                         .arm_messages(setup.arm_messages)
                         .udp_addrs(setup.udp_addrs)
                         .udp_sockets(setup.udp_sockets)
                         .max_peers(setup.max_peers)
                         .min_pow_difficulty(setup.min_pow_difficulty)
                         .hello_timeout(kHelloTimeout)
                         .hello_max_age(kHelloMaxAge)
                         .enforce_tcp(setup.enforce_tcp)
                         .housekeeping_interval(setup.housekeeping_interval)
                         .super_peers(urls)
                         .message_sink(sink)
                         .build());
    node::UdpBindings bindings;
    if (setup.bound) {
      auto socket = must(node::new_udp_reuseport(io.get_executor(), addr("127.0.0.1", 0)));
      binding = must(node::UdpBinding::create(token.child_token(), socket));
      bindings.push_back(binding);
    }
    if (setup.arm_messages) own_keys = must(peer::AgreementKeys::from_identity(self_id()));
    std::vector<std::shared_ptr<peer::SuperPeer>> super_peers;
    for (const auto& url : urls) {
      auto made = std::make_shared<peer::SuperPeer>(url, must(peer::session_keys_for(own_keys, url.pk())),
                                                    peer::ResolvedAddrs{addr(url.host().c_str(), url.port())});
      made->add_paths_for_resolved_addrs(bindings);
      super_peers.push_back(std::move(made));
    }
    super_peer = super_peers.front();
    if (setup.second_super_peer) second_super_peer = super_peers.back();
    node::NodeInit init{.opts = std::move(opts),
                        .network_id = kNetworkId,
                        .agreement_keys = own_keys,
                        .super_peers = std::move(super_peers),
                        .bindings = bindings,
                        .port = setup.bound ? binding->local_addr().port() : std::uint16_t{0},
                        .token = token,
                        .executor = io.get_executor()};
    if (setup.test_clocks) {
      init.clock = [this] { return us(now.load()); };
      init.wall_clock = [this] { return us(wall.load() != 0 ? wall.load() : now.load()); };
    }
    node = std::make_shared<node::NodeInner>(std::move(init));
  }

  // The key that arms what `from` sends to the node; none when the node arms nothing.
  std::optional<crypto::SessionKey> key_to_node(const Identity& from) const {
    if (!own_keys) return std::nullopt;
    const auto from_keys = must(peer::AgreementKeys::from_identity(from));
    return must(peer::session_keys_for(from_keys, self_id().pk()))->tx;
  }
  // The key with which `to` reads what the node sends it.
  std::optional<crypto::SessionKey> key_from_node(const Identity& to) const {
    if (!own_keys) return std::nullopt;
    const auto to_keys = must(peer::AgreementKeys::from_identity(to));
    return must(peer::session_keys_for(to_keys, self_id().pk()))->rx;
  }

  std::vector<std::uint8_t> hello_from(const Identity& from, std::uint64_t time, const message::ShortId& id) const {
    return must(message::HelloNodePeerMessage::build(kNetworkId, from.pk(), from.pow(), key_to_node(from),
                                                     self_id().pk(), time, id));
  }
  std::vector<std::uint8_t> ack_from(const Identity& from, std::uint64_t hello_time) const {
    return must(
        message::AckMessage::build(kNetworkId, from.pk(), from.pow(), key_to_node(from), self_id().pk(), hello_time));
  }

  // The other identity, admitted as a node peer.
  std::shared_ptr<peer::NodePeer> admit_other() {
    const Received hello(hello_from(other_id(), now, message::ShortId::random()));
    return must(node->store_node_peer(must(node->node_peer_candidate(hello.header(), kOtherSource))));
  }

  static constexpr message::NetworkId kNetworkId{0, 0, 0, 7};

  boost::asio::io_context io;
  util::CancellationToken token;
  std::atomic<std::uint64_t> now{kStart};
  // The wall clock (HELLO times) once set, as after a step of it; until then it reads `now`.
  std::atomic<std::uint64_t> wall{0};
  std::shared_ptr<CapturingSink> sink;
  std::shared_ptr<node::UdpBinding> binding;
  std::shared_ptr<peer::SuperPeer> super_peer;
  std::shared_ptr<peer::SuperPeer> second_super_peer;
  std::optional<peer::AgreementKeys> own_keys;
  std::shared_ptr<node::NodeInner> node;
};

}  // namespace valdori::p2p::node_test
