#include "agent/agent/overlay_side/icmp_fragmentation_needed.hpp"

#include <gtest/gtest.h>

#include "packet_samples.hpp"

namespace valdori::agent {
namespace {

using packet::testing::Bytes;
using packet::testing::ipv4_packet;
using packet::testing::ones_complement_sum;

TEST(IcmpFragmentationNeeded, ReplyQuotesTheHeaderAndEightBytes) {
  struct Case {
    const char* name;
    std::size_t size;
    std::uint8_t ihl;
    std::size_t quoted;
  };
  const Case cases[] = {
      {"1500 bytes, IHL 5", 1500, 5, 28},
      {"IHL 15", 1500, 15, 68},
      {"shorter than header and 8 bytes", 23, 5, 23},
  };
  for (const Case& c : cases) {
    Bytes trigger = ipv4_packet(c.size, c.ihl);
    trigger[6] = 0x40;
    const Bytes source = {10, 1, 0, 7};
    const Bytes destination = {10, 2, 0, 9};
    std::copy(source.begin(), source.end(), trigger.begin() + 12);
    std::copy(destination.begin(), destination.end(), trigger.begin() + 16);
    const auto header = packet::parse_ipv4_header(trigger);
    ASSERT_TRUE(header.has_value()) << c.name;

    const Bytes reply = create_icmp_fragmentation_needed(trigger, *header, 1073);

    ASSERT_EQ(reply.size(), 28 + c.quoted) << c.name;
    const Bytes expected_header = {0x45,
                                   0x00,
                                   static_cast<std::uint8_t>(reply.size() >> 8),
                                   static_cast<std::uint8_t>(reply.size()),
                                   0x00,
                                   0x00,
                                   0x40,
                                   0x00,
                                   64,
                                   1};
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 10), expected_header) << c.name;
    EXPECT_EQ(Bytes(reply.begin() + 12, reply.begin() + 16), destination) << c.name;
    EXPECT_EQ(Bytes(reply.begin() + 16, reply.begin() + 20), source) << c.name;
    EXPECT_EQ(ones_complement_sum(std::span(reply).first(20)), 0xFFFF) << c.name;

    const Bytes expected_icmp = {3, 4, reply[22], reply[23], 0x00, 0x00, 0x04, 0x31};
    EXPECT_EQ(Bytes(reply.begin() + 20, reply.begin() + 28), expected_icmp) << c.name;
    EXPECT_EQ(ones_complement_sum(std::span(reply).subspan(20)), 0xFFFF) << c.name;
    EXPECT_EQ(Bytes(reply.begin() + 28, reply.end()), Bytes(trigger.begin(), trigger.begin() + c.quoted)) << c.name;
  }
}

}  // namespace
}  // namespace valdori::agent
