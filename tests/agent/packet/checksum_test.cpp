#include "agent/packet/checksum.hpp"

#include <cstdint>
#include <span>
#include <vector>

#include <gtest/gtest.h>

#include "packet_samples.hpp"

namespace valdori::packet {
namespace {

using testing::Bytes;

TEST(InternetChecksum, KnownVectors) {
  struct Case {
    const char* name;
    Bytes data;
    std::uint16_t checksum;
  };
  const Case cases[] = {
      // RFC 1071, section 3: the sum of these words is DDF2.
      {"rfc1071", {0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7}, 0x220D},
      {"ipv4 header",
       {0x45, 0x00, 0x00, 0x73, 0x00, 0x00, 0x40, 0x00, 0x40, 0x11,
        0x00, 0x00, 0xC0, 0xA8, 0x00, 0x01, 0xC0, 0xA8, 0x00, 0xC7},
       0xB861},
      {"odd length pads with zero", {0x01, 0x02, 0x03}, static_cast<std::uint16_t>(~0x0402)},
      {"carries fold back", {0xFF, 0xFF, 0x00, 0x01}, static_cast<std::uint16_t>(~0x0001)},
      // 3 × FFFF + 0002 = 2FFFF; folding once gives 10001, which carries again: 0002.
      {"sum carries twice", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x02}, static_cast<std::uint16_t>(~0x0002)},
      {"empty", {}, 0xFFFF},
  };
  for (const Case& c : cases) EXPECT_EQ(internet_checksum(c.data), c.checksum) << c.name;
}

TEST(InternetChecksum, PiecesSumAsTheWhole) {
  Bytes data(61);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 37 + 11);
  const std::uint16_t whole = internet_checksum(data);
  EXPECT_EQ(whole, static_cast<std::uint16_t>(~testing::ones_complement_sum(data)));
  // Split points of both parities, an empty piece among them.
  for (const std::size_t first : {0, 1, 2, 7, 12, 13, 60}) {
    for (const std::size_t second : {first, first + 1, std::size_t{61}}) {
      if (second > data.size()) continue;
      const std::span<const std::uint8_t> all(data);
      InternetChecksum pieces;
      pieces.add(all.subspan(0, first));
      pieces.add(all.subspan(first, second - first));
      pieces.add(all.subspan(second));
      EXPECT_EQ(pieces.finish(), whole) << first << "/" << second;
    }
  }
}

}  // namespace
}  // namespace valdori::packet
