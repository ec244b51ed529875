// The options of an overlay node, made by NodeOptsBuilder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/ip/address.hpp>

#include "p2p_core/identity/identity.hpp"
#include "p2p_core/identity/super_peer_url.hpp"
#include "p2p_core/message/layout.hpp"
#include "p2p_core/node/message_sink.hpp"

namespace valdori::p2p::node {

inline constexpr std::uint64_t kDefaultMaxPeers = 8192;

struct NodeOpts {
  Identity id;
  bool arm_messages = true;
  std::vector<boost::asio::ip::address> udp_addrs;  // empty: every bindable interface address
  std::string tunnel_interface;                     // the agent's own tunnel, never bound; empty: none
  std::optional<std::uint16_t> udp_port;            // none: derived from the public key; 0: a free port
  std::size_t udp_sockets = 3;                      // per address
  // The peers table's limit. 0: no limit on members; strangers always get at most a quarter
  // of the limit, or of kDefaultMaxPeers when it is 0 (node_inner.hpp).
  std::uint64_t max_peers = kDefaultMaxPeers;
  std::uint8_t min_pow_difficulty = 24;
  std::uint64_t hello_timeout = 30000;  // ms
  std::uint64_t hello_max_age = 60000;  // ms
  bool process_unites = true;
  // ms. Carried as given: a period of 0 cannot drive a timer, so the housekeeping runner uses
  // kDefaultHousekeepingInterval instead (and says so).
  std::uint64_t housekeeping_interval = 5000;
  bool enforce_tcp = false;
  std::vector<SuperPeerUrl> super_peers = SUPER_PEERS_DEFAULT();
  // The longest message the node sends or reads ("network MTU").
  std::size_t max_message_len = message::kDefaultMaxMessageLen;
  std::shared_ptr<MessageSink> message_sink;
};

inline constexpr std::uint64_t kDefaultHousekeepingInterval = 5000;

}  // namespace valdori::p2p::node
