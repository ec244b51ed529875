#include "p2p_core/node/opts_builder.hpp"

#include <fmt/format.h>

namespace valdori::p2p::node {

NodeOptsBuilder& NodeOptsBuilder::id(Identity value) {
  opts_.id = std::move(value);
  id_set_ = true;
  return *this;
}

NodeOptsBuilder& NodeOptsBuilder::arm_messages(bool value) {
  opts_.arm_messages = value;
  return *this;
}

NodeOptsBuilder& NodeOptsBuilder::udp_addrs(std::vector<boost::asio::ip::address> value) {
  opts_.udp_addrs = std::move(value);
  return *this;
}

NodeOptsBuilder& NodeOptsBuilder::tunnel_interface(std::string value) {
  opts_.tunnel_interface = std::move(value);
  return *this;
}

NodeOptsBuilder& NodeOptsBuilder::udp_port(std::optional<std::uint16_t> value) {
  opts_.udp_port = value;
  return *this;
}

NodeOptsBuilder& NodeOptsBuilder::udp_sockets(std::size_t value) {
  opts_.udp_sockets = value;
  return *this;
}

NodeOptsBuilder& NodeOptsBuilder::max_peers(std::uint64_t value) {
  opts_.max_peers = value;
  return *this;
}

NodeOptsBuilder& NodeOptsBuilder::min_pow_difficulty(std::uint8_t value) {
  opts_.min_pow_difficulty = value;
  return *this;
}

NodeOptsBuilder& NodeOptsBuilder::hello_timeout(std::uint64_t value) {
  opts_.hello_timeout = value;
  return *this;
}

NodeOptsBuilder& NodeOptsBuilder::hello_max_age(std::uint64_t value) {
  opts_.hello_max_age = value;
  return *this;
}

NodeOptsBuilder& NodeOptsBuilder::process_unites(bool value) {
  opts_.process_unites = value;
  return *this;
}

NodeOptsBuilder& NodeOptsBuilder::housekeeping_interval(std::uint64_t value) {
  opts_.housekeeping_interval = value;
  return *this;
}

NodeOptsBuilder& NodeOptsBuilder::enforce_tcp(bool value) {
  opts_.enforce_tcp = value;
  return *this;
}

NodeOptsBuilder& NodeOptsBuilder::super_peers(std::vector<SuperPeerUrl> value) {
  opts_.super_peers = std::move(value);
  return *this;
}

NodeOptsBuilder& NodeOptsBuilder::max_message_len(std::size_t value) {
  opts_.max_message_len = value;
  return *this;
}

NodeOptsBuilder& NodeOptsBuilder::message_sink(std::shared_ptr<MessageSink> value) {
  opts_.message_sink = std::move(value);
  return *this;
}

boost::system::result<NodeOpts, NodeOptsBuilderError> NodeOptsBuilder::build() const {
  if (!id_set_) return opts_builder_error::UninitializedField{"id"};
  if (!opts_.message_sink) return opts_builder_error::UninitializedField{"message_sink"};
  if (opts_.udp_sockets > kMaxUdpSockets)
    return opts_builder_error::ValidationError{
        fmt::format("udp_sockets is {}, at most {} are allowed", opts_.udp_sockets, kMaxUdpSockets)};
  if (opts_.max_message_len < kMinMaxMessageLen || opts_.max_message_len > kMaxMaxMessageLen)
    return opts_builder_error::ValidationError{fmt::format(
        "max_message_len is {}, it must lie in {}..{}", opts_.max_message_len, kMinMaxMessageLen, kMaxMaxMessageLen)};
  return opts_;
}

}  // namespace valdori::p2p::node
