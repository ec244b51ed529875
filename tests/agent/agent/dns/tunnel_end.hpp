// A tunnel device over one end of a packet socket pair, with the other end read by the test.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <memory>
#include <optional>

#include <gtest/gtest.h>

#include "agent/packet/udp_header.hpp"
#include "dns_samples.hpp"
#include "platform/tun/tun_device.hpp"
#include "util/runtime/runtime.hpp"

namespace valdori::agent::dns::testing {

inline const packet::UdpEndpoint kResponder{addr("10.0.0.254"), 53};
inline const packet::UdpEndpoint kClient{addr("10.0.0.7"), 40001};

class TunnelEnd {
 public:
  explicit TunnelEnd(util::Runtime& runtime) {
    std::array<int, 2> fds{-1, -1};
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds.data()), 0);
    peer_ = fds[1];
    device_ = *platform::TunDevice::from_fd(runtime.executor(), fds[0], platform::TunFraming::Bare);
  }
  ~TunnelEnd() { close_peer(); }
  TunnelEnd(const TunnelEnd&) = delete;
  TunnelEnd& operator=(const TunnelEnd&) = delete;

  const std::shared_ptr<platform::TunDevice>& device() const { return device_; }

  // The next packet written to the device, if any; never waits.
  std::optional<Bytes> take_packet() const { return receive(MSG_DONTWAIT); }
  // The next packet written to the device, waiting for it.
  std::optional<Bytes> wait_packet() const { return receive(0); }

  void close_peer() {
    if (peer_ >= 0) close(peer_);
    peer_ = -1;
  }

 private:
  std::optional<Bytes> receive(int flags) const {
    Bytes packet(70000);
    const ssize_t n = recv(peer_, packet.data(), packet.size(), flags);
    if (n < 0) return std::nullopt;
    packet.resize(static_cast<std::size_t>(n));
    return packet;
  }

  int peer_ = -1;
  std::shared_ptr<platform::TunDevice> device_;
};

struct Reply {
  packet::UdpEndpoint from;
  packet::UdpEndpoint to;
  Bytes message;  // the DNS payload
};

// The addresses and DNS payload of a reply packet; its headers are build_udp_packet's (tests/agent/packet).
inline Reply parse_reply(const Bytes& packet) {
  Reply reply;
  if (packet.size() < 28 || packet[9] != 17) {
    ADD_FAILURE() << "no UDP packet of the responder: " << packet.size() << " bytes";
    return reply;
  }
  const auto u16 = [&](std::size_t at) { return static_cast<std::uint16_t>(packet[at] << 8 | packet[at + 1]); };
  reply.from = {Ipv4Addr(Ipv4Addr::bytes_type{packet[12], packet[13], packet[14], packet[15]}), u16(20)};
  reply.to = {Ipv4Addr(Ipv4Addr::bytes_type{packet[16], packet[17], packet[18], packet[19]}), u16(22)};
  reply.message.assign(packet.begin() + 28, packet.end());
  return reply;
}

}  // namespace valdori::agent::dns::testing
