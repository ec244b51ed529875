#include "agent/agent/inner/control_packet.hpp"

#include <gtest/gtest.h>

#include "packet_samples.hpp"

namespace valdori::agent {
namespace {

using packet::testing::Bytes;
using packet::testing::ipv4_packet;

// A packet of `size` bytes with the given header length, protocol and marker at `offset`.
Bytes with_marker(std::size_t size, std::uint8_t ihl, std::uint8_t protocol, std::size_t offset,
                  Bytes marker = {0x1E, 0x3F, 0x50, 0x01}) {
  Bytes packet = ipv4_packet(std::max(size, offset + marker.size()), ihl, protocol);
  std::copy(marker.begin(), marker.end(), packet.begin() + static_cast<std::ptrdiff_t>(offset));
  packet.resize(size);
  return packet;
}

TEST(ControlPacket, RecognisesTheMagicAtTheStartOfTheUdpPayload) {
  struct Case {
    const char* name;
    Bytes packet;
    bool control;
  };
  Bytes version6 = with_marker(32, 5, 17, 28);
  version6[0] = 0x65;
  const Case cases[] = {
      {"udp payload starts with the magic", with_marker(32, 5, 17, 28), true},
      {"one byte short of the magic", with_marker(31, 5, 17, 28), false},
      {"tcp", with_marker(32, 5, 6, 28), false},
      {"version 6", version6, false},
      {"other marker", with_marker(32, 5, 17, 28, {0x1E, 0x3F, 0x50, 0x02}), false},
      {"IHL 6, magic after the options", with_marker(36, 6, 17, 32), true},
      {"IHL 6, magic where IHL 5 would put it", with_marker(36, 6, 17, 28), false},
      {"IHL 15 in 40 bytes", with_marker(40, 15, 17, 28), false},
      {"19 bytes", Bytes(19, 0x45), false},
  };
  for (const Case& c : cases) EXPECT_EQ(is_valdori_control_packet(c.packet), c.control) << c.name;
}

}  // namespace
}  // namespace valdori::agent
