// Framing of overlay messages on a TCP link: each message travels as one frame, a 4-byte
// big-endian length followed by exactly the bytes it would have as a UDP datagram. Frames are
// never longer than the maximum message length, the same limit for both ends. A frame of no bytes
// is never sent but is well framed when received: its empty message goes to the dispatcher,
// which refuses it like any other message too short for a header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <boost/system/result.hpp>

#include "p2p_core/message/layout.hpp"

namespace valdori::p2p::message {

struct FrameError {
  enum class Kind : std::uint8_t {
    Empty,                   // an empty message to send
    TooLong,                 // `length` above `max`
    BytesRemainingOnStream,  // the stream ended inside a frame
  };
  Kind kind;
  std::size_t length = 0;
  std::size_t max = 0;
};

std::string display(const FrameError& e);

struct Frame {
  std::span<const std::uint8_t> message;  // inside the decoded buffer
  std::size_t consumed;                   // bytes of the buffer the frame took, prefix included
};

class FrameCodec {
 public:
  static constexpr std::size_t kPrefixLen = 4;

  explicit FrameCodec(std::size_t max_frame_len = kDefaultMaxMessageLen) : max_frame_len_(max_frame_len) {}

  std::size_t max_frame_len() const { return max_frame_len_; }

  // The frame of one message.
  boost::system::result<std::vector<std::uint8_t>, FrameError> encode(std::span<const std::uint8_t> message) const;
  // The first frame of the received bytes, or nothing while it is incomplete. An invalid length
  // is reported as soon as its prefix is in.
  boost::system::result<std::optional<Frame>, FrameError> decode(std::span<const std::uint8_t> buffered) const;
  // What the end of the stream means with these bytes left undecoded: a clean end when there are none.
  static boost::system::result<void, FrameError> end_of_stream(std::span<const std::uint8_t> buffered);

 private:
  boost::system::result<void, FrameError> check_max(std::size_t length) const;

  std::size_t max_frame_len_;
};

}  // namespace valdori::p2p::message
