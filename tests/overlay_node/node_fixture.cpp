#include "tests/overlay_node/node_fixture.hpp"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include <fmt/format.h>
#include <boost/asio/ip/address.hpp>

#include "overlay_node/node/send.hpp"
#include "p2p_core/identity/pow_search.hpp"
#include "p2p_core/node/clock.hpp"
#include "p2p_core/node/opts_builder.hpp"
#include "util/log/log.hpp"

namespace valdori::node::testing {

// On the calling thread alone: at this difficulty starting searchers on every core costs more
// than the search, and the flood tests make thousands of identities.
p2p::Identity test_identity() {
  const auto found = p2p::search_pow(kTestDifficulty, 1);
  return {found.sk, found.pow};
}

Bytes payload(char tag, std::size_t index, std::size_t length) {
  Bytes bytes(length);
  const std::string head = fmt::format("{}{}:", tag, index);
  for (std::size_t i = 0; i < length; ++i)
    bytes[i] = i < head.size() ? static_cast<std::uint8_t>(head[i]) : static_cast<std::uint8_t>(i * 31 + index);
  return bytes;
}

void CollectingSink::accept(const p2p::PubKey& sender, Bytes message) {
  std::lock_guard lock(mutex_);
  messages_.emplace_back(sender, std::move(message));
}

std::vector<std::pair<p2p::PubKey, Bytes>> CollectingSink::messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

std::size_t CollectingSink::count() const {
  std::lock_guard lock(mutex_);
  return messages_.size();
}

// The tests log at every level into a capture; the console would drown in it.
NodeTest::NodeTest() { log::remove_console_sink(); }

super_peer::SuperPeerOptions NodeTest::default_super_peer_options() {
  super_peer::SuperPeerOptions options;
  options.network_id = kNetworkId;
  options.min_pow_difficulty = kTestDifficulty;
  return options;
}

void NodeTest::start_super_peer(const super_peer::SuperPeerOptions& options) {
  super_peer_ = must(super_peer::SuperPeer::start(runtime_.executor(), test_identity(), options));
}

p2p::node::NodeOpts NodeTest::node_opts(const p2p::Identity& identity, std::shared_ptr<CollectingSink> sink,
                                        const NodeSetup& setup) const {
  return must(p2p::node::NodeOptsBuilder()
                  .id(identity)
                  .arm_messages(setup.arm_messages)
                  .udp_addrs({boost::asio::ip::address_v4::loopback()})
                  .udp_port(0)
                  .udp_sockets(setup.udp_sockets)
                  .min_pow_difficulty(kTestDifficulty)
                  .hello_timeout(kHelloTimeout)
                  .process_unites(setup.process_unites)
                  .housekeeping_interval(setup.housekeeping_interval)
                  .enforce_tcp(setup.enforce_tcp)
                  .super_peers({super_peer_->url()})
                  .message_sink(std::move(sink))
                  .build());
}

Node NodeTest::bind(p2p::node::NodeOpts opts) {
  return must(runtime_.block_on(Node::bind(runtime_.executor(), std::move(opts))));
}

NodePair NodeTest::bind_pair(const NodeSetup& setup_a, const NodeSetup& setup_b) {
  const auto id_a = test_identity();
  const auto id_b = test_identity();
  const auto sink_a = std::make_shared<CollectingSink>();
  const auto sink_b = std::make_shared<CollectingSink>();
  NodePair pair{
      id_a, id_b, sink_a, sink_b, bind(node_opts(id_a, sink_a, setup_a)), bind(node_opts(id_b, sink_b, setup_b))};
  if (!wait_until([&] { return super_peer_reachable(pair.a) && super_peer_reachable(pair.b); })) {
    throw std::runtime_error("the super peer did not hear from both nodes");
  }
  return pair;
}

boost::system::result<void, p2p::node::error::Error> NodeTest::send(const p2p::node::SendHandle& handle,
                                                                    const Bytes& data) {
  return runtime_.block_on(node::send(handle, data));
}

bool NodeTest::super_peer_reachable(const Node& node) const {
  const auto super_peer = node.inner()->peers().find_super_peer(super_peer_->url().pk());
  return super_peer && super_peer->is_reachable(p2p::node::interval_time_ms(), kHelloTimeout);
}

bool Traffic::send_next() { return send(payload(tag_, sent_.size(), 1 + sent_.size() * 37 % 900)); }

bool Traffic::send(Bytes data) {
  const bool sent = test_.send(*handle_, data).has_value();
  if (sent) sent_.push_back(std::move(data));
  return sent;
}

void Traffic::expect_delivered_to(const CollectingSink& sink, const p2p::PubKey& sender) const {
  const auto received_from_sender = [&] {
    std::vector<Bytes> out;
    for (const auto& [key, message] : sink.messages())
      if (key == sender) out.push_back(message);
    return out;
  };
  ASSERT_TRUE(wait_until([&] { return received_from_sender().size() >= sent_.size(); }));
  const auto received = received_from_sender();
  EXPECT_EQ(received.size(), sent_.size());
  EXPECT_TRUE(std::ranges::is_permutation(received, sent_));
}

}  // namespace valdori::node::testing
