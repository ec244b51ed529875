#include <vector>

#include <gtest/gtest.h>

#include "codec_fixtures.hpp"
#include "p2p_core/message/frame_codec.hpp"

namespace valdori::p2p::message {
namespace {

using namespace codec_test;

TEST(FrameCodec, PrefixesTheLengthBigEndian) {
  EXPECT_EQ(hex(must(FrameCodec().encode(unhex("cafe01")))), "00000003cafe01");
  const std::vector<std::uint8_t> largest(kDefaultMaxMessageLen, 0x01);
  EXPECT_EQ(hex(must(FrameCodec().encode(largest))).substr(0, 8), "000004b0");
}

TEST(FrameCodec, DecodesByteByByteAndFrameAfterFrame) {
  const FrameCodec codec;
  const auto stream = unhex(
      "00000003cafe01"
      "00000001ff");
  std::vector<std::uint8_t> buffered;
  std::vector<std::string> frames;
  for (const auto byte : stream) {
    buffered.push_back(byte);
    while (auto frame = must(codec.decode(buffered))) {
      frames.push_back(hex(frame->message));
      buffered.erase(buffered.begin(), buffered.begin() + static_cast<std::ptrdiff_t>(frame->consumed));
    }
  }
  EXPECT_EQ(frames, (std::vector<std::string>{"cafe01", "ff"}));
  EXPECT_TRUE(FrameCodec::end_of_stream(buffered));
}

TEST(FrameCodec, RejectsOversizeFramesAsSoonAsThePrefixIsIn) {
  const FrameCodec codec(16);
  const auto oversize = codec.decode(unhex("00000011"));
  ASSERT_FALSE(oversize);
  EXPECT_EQ(display(oversize.error()), "frame of 17 bytes exceeds the maximum of 16");
  EXPECT_TRUE(must(codec.decode(unhex("00000010"))) == std::nullopt);
  EXPECT_FALSE(codec.encode(std::vector<std::uint8_t>(17)));
}

// An empty frame is well framed: its message is left to the dispatcher, as a short one is. This
// end never sends one.
TEST(FrameCodec, AnEmptyFrameDecodesToAnEmptyMessageButIsNeverEncoded) {
  const FrameCodec codec;
  const auto frame =
      must(codec.decode(unhex("00000000"
                              "00000001ff")));
  ASSERT_TRUE(frame);
  EXPECT_TRUE(frame->message.empty());
  EXPECT_EQ(frame->consumed, FrameCodec::kPrefixLen);
  const auto empty = codec.encode({});
  ASSERT_FALSE(empty);
  EXPECT_EQ(display(empty.error()), "empty frame");
}

TEST(FrameCodec, AStreamEndingInsideAFrameLeavesBytesRemaining) {
  const auto ended = FrameCodec::end_of_stream(unhex("00000003ca"));
  ASSERT_FALSE(ended);
  EXPECT_EQ(display(ended.error()), "bytes remaining on stream");
}

}  // namespace
}  // namespace valdori::p2p::message
