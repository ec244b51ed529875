#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "agent/packet/ipv4_header.hpp"
#include "agent/packet/udp_header.hpp"
#include "packet_samples.hpp"

namespace valdori::packet {
namespace {

using testing::Bytes;
using testing::ipv4_packet;
using testing::ones_complement_sum;

TEST(Ipv4Header, RefusesWhatIsNotAWholeIpv4Header) {
  struct Case {
    const char* name;
    Bytes packet;
    Ipv4HeaderError error;
  };
  Bytes version6 = ipv4_packet(40);
  version6[0] = 0x65;
  const Case cases[] = {
      {"19 bytes", ipv4_packet(19), Ipv4HeaderError::PacketTooShort},
      {"empty", {}, Ipv4HeaderError::PacketTooShort},
      {"version 6", version6, Ipv4HeaderError::NotIpv4},
      {"IHL 4", ipv4_packet(40, 4), Ipv4HeaderError::HeaderLengthTooSmall},
      {"IHL 6 in 20 bytes", ipv4_packet(20, 6), Ipv4HeaderError::HeaderBeyondPacket},
      {"IHL 15 in 40 bytes", ipv4_packet(40, 15), Ipv4HeaderError::HeaderBeyondPacket},
  };
  for (const Case& c : cases) {
    const auto header = parse_ipv4_header(c.packet);
    ASSERT_FALSE(header.has_value()) << c.name;
    EXPECT_EQ(header.error(), c.error) << c.name;
    EXPECT_FALSE(to_string(header.error()).empty()) << c.name;
  }
}

TEST(Ipv4Header, ReadsTheFieldsThePacketPathUses) {
  Bytes packet = ipv4_packet(64, 6, kIpProtocolUdp);
  packet[6] = 0x40;
  packet[12] = 10, packet[13] = 1, packet[14] = 2, packet[15] = 3;
  packet[16] = 192, packet[17] = 168, packet[18] = 0, packet[19] = 1;
  const auto header = parse_ipv4_header(packet);
  ASSERT_TRUE(header.has_value()) << to_string(header.error());
  EXPECT_EQ(header->header_len, 24u);
  EXPECT_EQ(header->protocol, kIpProtocolUdp);
  EXPECT_TRUE(header->dont_fragment);
  EXPECT_EQ(header->source, Ipv4Addr({10, 1, 2, 3}));
  EXPECT_EQ(header->destination, Ipv4Addr({192, 168, 0, 1}));

  packet[6] = 0xBF;  // every other flag and offset bit
  EXPECT_FALSE(parse_ipv4_header(packet)->dont_fragment);
  // A header of exactly the packet's length is whole.
  EXPECT_TRUE(parse_ipv4_header(ipv4_packet(60, 15)).has_value());
}

TEST(UdpHeader, ReadsPortsOfAWholeHeaderOnly) {
  EXPECT_FALSE(parse_udp_header(Bytes(7)).has_value());
  const auto header = parse_udp_header(Bytes{0x9C, 0x40, 0x00, 0x35, 0, 8, 0, 0});
  ASSERT_TRUE(header.has_value());
  EXPECT_EQ(header->source_port, 40000);
  EXPECT_EQ(header->destination_port, 53);
}

TEST(UdpPacket, GoldenBytes) {
  const Bytes payload = {0x12, 0x34, 'h', 'e', 'l', 'l', 'o'};
  const auto packet = build_udp_packet({Ipv4Addr({10, 0, 0, 254}), 53}, {Ipv4Addr({10, 0, 0, 7}), 40000}, payload);
  ASSERT_TRUE(packet.has_value());
  const Bytes expected = {0x45, 0x00, 0x00, 0x23, 0x00, 0x00, 0x40, 0x00, 0x40, 0x11, 0x25, 0xC6,
                          0x0A, 0x00, 0x00, 0xFE, 0x0A, 0x00, 0x00, 0x07, 0x00, 0x35, 0x9C, 0x40,
                          0x00, 0x0F, 0xF8, 0x4F, 0x12, 0x34, 0x68, 0x65, 0x6C, 0x6C, 0x6F};
  EXPECT_EQ(*packet, expected);
}

TEST(UdpPacket, ChecksumsVerifyForPayloadsOfEverySize) {
  const UdpEndpoint from{Ipv4Addr({100, 64, 3, 1}), 53};
  const UdpEndpoint to{Ipv4Addr({100, 64, 9, 200}), 65535};
  for (const std::size_t size : {0, 1, 12, 511, 4096, static_cast<int>(kUdpMaxPayloadLen)}) {
    Bytes payload(size);
    for (std::size_t i = 0; i < size; ++i) payload[i] = static_cast<std::uint8_t>(0xFF - i);
    const auto packet = build_udp_packet(from, to, payload);
    ASSERT_TRUE(packet.has_value()) << size;
    ASSERT_EQ(packet->size(), 28 + size);
    EXPECT_EQ(ones_complement_sum(std::span(*packet).first(20)), 0xFFFF) << size;
    // Pseudo-header: addresses, protocol, UDP length; then the datagram.
    Bytes covered = {100, 64, 3, 1, 100, 64, 9, 200, 0, 17, (*packet)[24], (*packet)[25]};
    covered.insert(covered.end(), packet->begin() + 20, packet->end());
    EXPECT_EQ(ones_complement_sum(covered), 0xFFFF) << size;
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), packet->begin() + 28)) << size;
  }
  EXPECT_EQ(build_udp_packet(from, to, Bytes(kUdpMaxPayloadLen + 1)).error(), boost::system::errc::message_size);
}

}  // namespace
}  // namespace valdori::packet
