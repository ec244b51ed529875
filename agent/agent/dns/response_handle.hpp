// The way back for an answer of the embedded responder: no socket, but a UDP datagram in an
// IPv4 packet written straight into the tunnel device, from the responder's address to the
// querying application.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include <boost/asio/awaitable.hpp>
#include <boost/system/result.hpp>

#include "agent/agent/dns/ldns_handles.hpp"
#include "agent/packet/udp_header.hpp"
#include "platform/tun/tun_device.hpp"

namespace valdori::agent::dns {

inline constexpr std::size_t kDnsHeaderLen = 12;

struct ResponseHandle {
  packet::UdpEndpoint src;  // the responder: the query's destination address and port
  packet::UdpEndpoint dst;  // the client: the query's source address and port
  std::shared_ptr<platform::TunDevice> device;

  // Encodes `response` within the payload size its EDNS record announces (512 bytes without
  // one), leaving out trailing records (questions last) and setting TC when it does not fit,
  // and writes it as one packet. A response ldns cannot encode is replaced by a bare SERVFAIL. Fails with the
  // device's error when the write fails.
  boost::asio::awaitable<boost::system::result<void>> send_response(LdnsPkt response) const;
};

// A DNS header with no sections: the id, QR set, response code SERVFAIL, every count 0.
std::array<std::uint8_t, kDnsHeaderLen> encode_fallback_servfail_response(std::uint16_t id);

}  // namespace valdori::agent::dns
