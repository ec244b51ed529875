// Builder of NodeOpts: every option starts at its default; `id` and `message_sink` must be set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/system/result.hpp>

#include "p2p_core/node/opts.hpp"
#include "p2p_core/node/opts_builder_error.hpp"

namespace valdori::p2p::node {

// Bounds that keep a bad environment value from exhausting descriptors or making a node that
// cannot send a HELLO.
inline constexpr std::size_t kMaxUdpSockets = 64;
inline constexpr std::size_t kMinMaxMessageLen = 576;
inline constexpr std::size_t kMaxMaxMessageLen = 65507;  // the largest UDP payload

class NodeOptsBuilder {
 public:
  NodeOptsBuilder& id(Identity value);
  NodeOptsBuilder& arm_messages(bool value);
  NodeOptsBuilder& udp_addrs(std::vector<boost::asio::ip::address> value);
  NodeOptsBuilder& tunnel_interface(std::string value);
  NodeOptsBuilder& udp_port(std::optional<std::uint16_t> value);
  NodeOptsBuilder& udp_sockets(std::size_t value);
  NodeOptsBuilder& max_peers(std::uint64_t value);
  NodeOptsBuilder& min_pow_difficulty(std::uint8_t value);
  NodeOptsBuilder& hello_timeout(std::uint64_t value);
  NodeOptsBuilder& hello_max_age(std::uint64_t value);
  NodeOptsBuilder& process_unites(bool value);
  NodeOptsBuilder& housekeeping_interval(std::uint64_t value);
  NodeOptsBuilder& enforce_tcp(bool value);
  NodeOptsBuilder& super_peers(std::vector<SuperPeerUrl> value);
  NodeOptsBuilder& max_message_len(std::size_t value);
  NodeOptsBuilder& message_sink(std::shared_ptr<MessageSink> value);

  // UninitializedField naming a required option left unset; ValidationError for a value out of
  // bounds.
  boost::system::result<NodeOpts, NodeOptsBuilderError> build() const;

 private:
  NodeOpts opts_{.id = Identity(SecKey(), Pow()),
                 .udp_addrs = {},
                 .tunnel_interface = {},
                 .udp_port = {},
                 .message_sink = {}};  // `id` is a placeholder until set
  bool id_set_ = false;
};

}  // namespace valdori::p2p::node
