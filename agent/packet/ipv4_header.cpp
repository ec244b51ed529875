#include "agent/packet/ipv4_header.hpp"

#include "agent/packet/checksum.hpp"
#include "p2p_core/message/layout.hpp"

namespace valdori::packet {
namespace {

using p2p::message::load_big_endian;
using p2p::message::store_big_endian;

constexpr std::uint8_t kDontFragment = 0x40;  // in byte 6, the high byte of flags and offset
constexpr std::uint8_t kTimeToLive = 64;

}  // namespace

std::string_view to_string(Ipv4HeaderError error) {
  switch (error) {
    case Ipv4HeaderError::PacketTooShort: return "packet shorter than an IPv4 header";
    case Ipv4HeaderError::NotIpv4: return "not an IPv4 packet";
    case Ipv4HeaderError::HeaderLengthTooSmall: return "IPv4 header length below 20 bytes";
    case Ipv4HeaderError::HeaderBeyondPacket: return "IPv4 header longer than the packet";
  }
  return "unknown IPv4 header error";
}

boost::system::result<Ipv4Header, Ipv4HeaderError> parse_ipv4_header(std::span<const std::uint8_t> packet) {
  if (packet.size() < kIpv4HeaderMinLen) return Ipv4HeaderError::PacketTooShort;
  if (packet[0] >> 4 != 4) return Ipv4HeaderError::NotIpv4;
  const std::size_t ihl = packet[0] & 0x0F;
  if (ihl < 5) return Ipv4HeaderError::HeaderLengthTooSmall;
  if (packet.size() < ihl * 4) return Ipv4HeaderError::HeaderBeyondPacket;
  return Ipv4Header{
      .header_len = ihl * 4,
      .protocol = packet[9],
      .dont_fragment = (packet[6] & kDontFragment) != 0,
      .source = Ipv4Addr(load_big_endian<std::uint32_t>(&packet[12])),
      .destination = Ipv4Addr(load_big_endian<std::uint32_t>(&packet[16])),
  };
}

void write_ipv4_header(std::span<std::uint8_t, kIpv4HeaderMinLen> out, std::uint8_t protocol, Ipv4Addr source,
                       Ipv4Addr destination, std::uint16_t total_length) {
  out[0] = 0x45;  // version 4, five 32-bit words
  out[1] = 0;
  store_big_endian(&out[2], total_length);
  store_big_endian(&out[4], std::uint16_t{0});
  out[6] = kDontFragment;
  out[7] = 0;
  out[8] = kTimeToLive;
  out[9] = protocol;
  store_big_endian(&out[10], std::uint16_t{0});
  store_big_endian(&out[12], source.to_uint());
  store_big_endian(&out[16], destination.to_uint());
  store_big_endian(&out[10], internet_checksum(out));
}

}  // namespace valdori::packet
