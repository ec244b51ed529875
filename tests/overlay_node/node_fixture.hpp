// Overlay nodes on loopback beside an in-process super peer: options for a node that collects
// what it receives, and waiting on conditions with a generous safety limit.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "overlay_node/node/node.hpp"
#include "p2p_core/identity/identity.hpp"
#include "p2p_core/node/error.hpp"
#include "p2p_core/node/message_sink.hpp"
#include "p2p_core/node/opts.hpp"
#include "p2p_core/node/send_handle.hpp"
#include "tests/support/must.hpp"
#include "tests/support/wait_until.hpp"
#include "tools/super_peer/server/options.hpp"
#include "tools/super_peer/server/super_peer.hpp"
#include "util/runtime/runtime.hpp"

namespace valdori::node::testing {

using Bytes = std::vector<std::uint8_t>;

// Low, so that identities are found at once; the super peer asks for the same.
inline constexpr std::uint8_t kTestDifficulty = 4;
inline constexpr std::uint32_t kNetworkId = 7;
// Short, so that paths come and go within a test.
inline constexpr std::uint64_t kHousekeepingInterval = 100;  // ms
inline constexpr std::uint64_t kHelloTimeout = 1000;         // ms

using valdori::testing::must;

p2p::Identity test_identity();

// `length` bytes that tell the message apart from every other of the test: the tag and index,
// then a pattern.
Bytes payload(char tag, std::size_t index, std::size_t length);

using valdori::testing::kWaitLimit;
using valdori::testing::wait_until;

class CollectingSink : public p2p::node::MessageSink {
 public:
  void accept(const p2p::PubKey& sender, Bytes message) override;
  std::vector<std::pair<p2p::PubKey, Bytes>> messages() const;
  std::size_t count() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<p2p::PubKey, Bytes>> messages_;
};

struct NodeSetup {
  bool arm_messages = true;
  bool process_unites = true;
  bool enforce_tcp = false;
  std::size_t udp_sockets = 2;
  std::uint64_t housekeeping_interval = kHousekeepingInterval;  // ms
};

// Two nodes of a test, each with its identity and what it has received.
struct NodePair {
  p2p::Identity id_a;
  p2p::Identity id_b;
  std::shared_ptr<CollectingSink> sink_a;
  std::shared_ptr<CollectingSink> sink_b;
  Node a;
  Node b;
};

class NodeTest : public ::testing::Test {
 public:
  // Sends from a runtime thread and waits for the outcome.
  boost::system::result<void, p2p::node::error::Error> send(const p2p::node::SendHandle& handle, const Bytes& data);

 protected:
  NodeTest();

  static super_peer::SuperPeerOptions default_super_peer_options();
  void start_super_peer(const super_peer::SuperPeerOptions& options = default_super_peer_options());

  // Options of a node on 127.0.0.1 with a free port of its own, served by the super peer.
  p2p::node::NodeOpts node_opts(const p2p::Identity& identity, std::shared_ptr<CollectingSink> sink,
                                const NodeSetup& setup = {}) const;
  Node bind(p2p::node::NodeOpts opts);
  // Binds two nodes and waits until the super peer has heard from both.
  NodePair bind_pair(const NodeSetup& setup_a, const NodeSetup& setup_b);
  NodePair bind_pair(const NodeSetup& setup = {}) { return bind_pair(setup, setup); }

  // The node has heard back from its super peer, which therefore knows where the node is.
  bool super_peer_reachable(const Node& node) const;

  util::Runtime runtime_{4};
  std::unique_ptr<super_peer::SuperPeer> super_peer_;
};

// One direction of traffic: numbered payloads of varying length, checked on arrival.
class Traffic {
 public:
  Traffic(NodeTest& test, std::shared_ptr<p2p::node::SendHandle> handle, char tag)
      : test_(test), handle_(std::move(handle)), tag_(tag) {}

  const p2p::node::SendHandle& handle() const { return *handle_; }

  bool send_next();
  bool send(Bytes data);

  // Everything sent has arrived from `sender`, byte for byte, each once.
  void expect_delivered_to(const CollectingSink& sink, const p2p::PubKey& sender) const;

 private:
  NodeTest& test_;
  std::shared_ptr<p2p::node::SendHandle> handle_;
  char tag_;
  std::vector<Bytes> sent_;
};

}  // namespace valdori::node::testing
