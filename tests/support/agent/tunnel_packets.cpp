#include "tests/support/agent/tunnel_packets.hpp"

#include <array>
#include <stdexcept>
#include <string>

#include "agent/packet/checksum.hpp"

namespace valdori::agent::testing {
namespace {

constexpr std::size_t kIpv4HeaderLen = 20;
constexpr std::size_t kUdpHeaderLen = 8;
constexpr std::uint8_t kIcmpEchoReply = 0;
constexpr std::uint8_t kIcmpEchoRequest = 8;

void store16(Bytes& bytes, std::size_t offset, std::uint16_t value) {
  bytes[offset] = static_cast<std::uint8_t>(value >> 8);
  bytes[offset + 1] = static_cast<std::uint8_t>(value);
}

void store32(std::uint8_t* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

Bytes counting_data(std::size_t len) {
  Bytes data(len);
  for (std::size_t i = 0; i < len; ++i) data[i] = static_cast<std::uint8_t>(i);
  return data;
}

// The sum over the UDP pseudo-header and `datagram`.
std::uint16_t udp_sum(Ipv4Addr source, Ipv4Addr destination, std::span<const std::uint8_t> datagram) {
  std::array<std::uint8_t, 12> pseudo{};
  store32(&pseudo[0], source.to_uint());
  store32(&pseudo[4], destination.to_uint());
  pseudo[9] = kProtocolUdp;
  pseudo[10] = static_cast<std::uint8_t>(datagram.size() >> 8);
  pseudo[11] = static_cast<std::uint8_t>(datagram.size());
  packet::InternetChecksum sum;
  sum.add(pseudo);
  sum.add(datagram);
  return sum.finish();
}

}  // namespace

Ipv4Addr ip(const char* text) {
  const auto parsed = util::net::parse_ipv4_addr(text);
  if (!parsed) throw std::invalid_argument(std::string("not an IPv4 address: ") + text);
  return *parsed;
}

Bytes ipv4_packet(Ipv4Addr source, Ipv4Addr destination, std::uint8_t protocol, std::span<const std::uint8_t> payload,
                  bool dont_fragment, std::uint16_t identification) {
  Bytes packet(kIpv4HeaderLen);
  packet[0] = 0x45;
  store16(packet, 2, static_cast<std::uint16_t>(kIpv4HeaderLen + payload.size()));
  store16(packet, 4, identification);
  packet[6] = dont_fragment ? 0x40 : 0x00;
  packet[8] = 64;
  packet[9] = protocol;
  store32(&packet[12], source.to_uint());
  store32(&packet[16], destination.to_uint());
  store16(packet, 10, packet::internet_checksum(packet));
  packet.insert(packet.end(), payload.begin(), payload.end());
  return packet;
}

Bytes icmp_echo(Ipv4Addr source, Ipv4Addr destination, bool reply, std::uint16_t id, std::uint16_t sequence,
                std::size_t data_len) {
  Bytes message(8);
  message[0] = reply ? kIcmpEchoReply : kIcmpEchoRequest;
  store16(message, 4, id);
  store16(message, 6, sequence);
  const Bytes data = counting_data(data_len);
  message.insert(message.end(), data.begin(), data.end());
  store16(message, 2, packet::internet_checksum(message));
  return ipv4_packet(source, destination, kProtocolIcmp, message);
}

Bytes udp_packet(Ipv4Addr source, std::uint16_t source_port, Ipv4Addr destination, std::uint16_t destination_port,
                 std::span<const std::uint8_t> payload, bool dont_fragment) {
  Bytes datagram(kUdpHeaderLen);
  store16(datagram, 0, source_port);
  store16(datagram, 2, destination_port);
  store16(datagram, 4, static_cast<std::uint16_t>(kUdpHeaderLen + payload.size()));
  datagram.insert(datagram.end(), payload.begin(), payload.end());
  const std::uint16_t sum = udp_sum(source, destination, datagram);
  store16(datagram, 6, sum == 0 ? 0xFFFF : sum);
  return ipv4_packet(source, destination, kProtocolUdp, datagram, dont_fragment);
}

Bytes udp_packet(Ipv4Addr source, std::uint16_t source_port, Ipv4Addr destination, std::uint16_t destination_port,
                 std::size_t payload_len, bool dont_fragment) {
  return udp_packet(source, source_port, destination, destination_port, counting_data(payload_len), dont_fragment);
}

std::size_t header_len(std::span<const std::uint8_t> packet) { return std::size_t{packet[0] & 0x0Fu} * 4; }
std::uint8_t protocol(std::span<const std::uint8_t> packet) { return packet[9]; }

Ipv4Addr source(std::span<const std::uint8_t> packet) {
  return Ipv4Addr(Ipv4Addr::bytes_type{packet[12], packet[13], packet[14], packet[15]});
}

Ipv4Addr destination(std::span<const std::uint8_t> packet) {
  return Ipv4Addr(Ipv4Addr::bytes_type{packet[16], packet[17], packet[18], packet[19]});
}

std::uint16_t load16(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] << 8 | bytes[offset + 1]);
}

std::span<const std::uint8_t> ip_payload(std::span<const std::uint8_t> packet) {
  return packet.subspan(header_len(packet));
}

std::span<const std::uint8_t> udp_payload(std::span<const std::uint8_t> packet) {
  return ip_payload(packet).subspan(kUdpHeaderLen);
}

}  // namespace valdori::agent::testing
