// What a super peer listens on and which of its services are switched on.
#pragma once

#include <boost/asio/ip/address.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace valdori::super_peer {

struct SuperPeerOptions {
  // One host for both transports: the super peer's URL names a single host.
  boost::asio::ip::address listen_address = boost::asio::ip::address_v4::loopback();
  std::uint16_t udp_port = 0;  // 0: any free port
  std::uint16_t tcp_port = 0;  // 0: any free port
  std::uint32_t network_id = 0;
  // The least proof of work a node's key must carry to be served.
  std::uint8_t min_pow_difficulty = 24;
  // Switches for tests. A switched-off transport still holds its port, so that the URL stays
  // valid and nothing else can answer on it, but nothing it receives is read.
  bool udp_enabled = true;
  bool tcp_enabled = true;
  bool unite_enabled = true;
  // Unarmed HELLOs and relays are refused: only arming shows that a HELLO comes from the key
  // it names. Off, unarmed nodes are served too, and anyone may take over their registration.
  bool arm_messages = true;
  // How often nodes greet the super peer: their housekeeping interval. A node that greeted
  // within two of these is live, and a full registry never forgets it to make room.
  std::chrono::milliseconds hello_interval{5'000};
  // Nodes registered at once (at least 1).
  std::size_t max_nodes = 4096;
  // New registrations from one IPv4 address or IPv6 /64: a burst, then one per interval.
  std::uint32_t registration_burst = 64;
  std::chrono::milliseconds registration_interval{250};
  // A TCP link none of whose frames has dispatched for this long is closed.
  std::chrono::milliseconds tcp_idle_timeout{60'000};
  // TCP links from one IPv4 address or IPv6 /64 at once; more are closed at once.
  std::size_t max_tcp_links_per_address = 16;
  // TCP links at once; lowered further to stay below the descriptor limit.
  std::size_t max_tcp_links = 4096;
};

}  // namespace valdori::super_peer
