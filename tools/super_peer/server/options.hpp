// What a super peer listens on and which of its services are switched on.
#pragma once

#include <boost/asio/ip/address.hpp>
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
};

}  // namespace valdori::super_peer
