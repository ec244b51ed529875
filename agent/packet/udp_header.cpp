#include "agent/packet/udp_header.hpp"

#include <array>
#include <cstring>

#include <boost/system/errc.hpp>

#include "agent/packet/checksum.hpp"
#include "p2p_core/message/layout.hpp"

namespace valdori::packet {
namespace {

using p2p::message::load_big_endian;
using p2p::message::store_big_endian;

std::uint16_t udp_checksum(Ipv4Addr source, Ipv4Addr destination, std::span<const std::uint8_t> datagram) {
  std::array<std::uint8_t, 12> pseudo_header{};
  store_big_endian(&pseudo_header[0], source.to_uint());
  store_big_endian(&pseudo_header[4], destination.to_uint());
  pseudo_header[9] = kIpProtocolUdp;
  store_big_endian(&pseudo_header[10], static_cast<std::uint16_t>(datagram.size()));
  InternetChecksum checksum;
  checksum.add(pseudo_header);
  checksum.add(datagram);
  const std::uint16_t sum = checksum.finish();
  return sum == 0 ? 0xFFFF : sum;  // 0 would say "no checksum"
}

}  // namespace

std::optional<UdpHeader> parse_udp_header(std::span<const std::uint8_t> datagram) {
  if (datagram.size() < kUdpHeaderLen) return std::nullopt;
  return UdpHeader{load_big_endian<std::uint16_t>(&datagram[0]), load_big_endian<std::uint16_t>(&datagram[2])};
}

boost::system::result<std::vector<std::uint8_t>> build_udp_packet(UdpEndpoint source, UdpEndpoint destination,
                                                                  std::span<const std::uint8_t> payload) {
  if (payload.size() > kUdpMaxPayloadLen)
    return boost::system::errc::make_error_code(boost::system::errc::message_size);
  const std::size_t udp_len = kUdpHeaderLen + payload.size();
  std::vector<std::uint8_t> packet(kIpv4HeaderMinLen + udp_len);
  write_ipv4_header(std::span(packet).first<kIpv4HeaderMinLen>(), kIpProtocolUdp, source.address, destination.address,
                    static_cast<std::uint16_t>(packet.size()));
  const std::span<std::uint8_t> datagram = std::span(packet).subspan(kIpv4HeaderMinLen);
  store_big_endian(&datagram[0], source.port);
  store_big_endian(&datagram[2], destination.port);
  store_big_endian(&datagram[4], static_cast<std::uint16_t>(udp_len));
  if (!payload.empty()) std::memcpy(&datagram[kUdpHeaderLen], payload.data(), payload.size());
  store_big_endian(&datagram[6], udp_checksum(source.address, destination.address, datagram));
  return packet;
}

}  // namespace valdori::packet
