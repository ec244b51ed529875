#include "p2p_core/message/frame_codec.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "p2p_core/message/layout.hpp"

namespace valdori::p2p::message {

std::string display(const FrameError& e) {
  switch (e.kind) {
    case FrameError::Kind::Empty: return "empty frame";
    case FrameError::Kind::TooLong: return fmt::format("frame of {} bytes exceeds the maximum of {}", e.length, e.max);
    case FrameError::Kind::BytesRemainingOnStream: return "bytes remaining on stream";
  }
  return "invalid frame";
}

boost::system::result<void, FrameError> FrameCodec::check_max(std::size_t length) const {
  if (length > max_frame_len_) return FrameError{FrameError::Kind::TooLong, length, max_frame_len_};
  return {};
}

boost::system::result<std::vector<std::uint8_t>, FrameError> FrameCodec::encode(
    std::span<const std::uint8_t> message) const {
  if (message.empty()) return FrameError{FrameError::Kind::Empty};
  if (auto valid = check_max(message.size()); !valid) return valid.error();
  std::vector<std::uint8_t> frame(kPrefixLen + message.size());
  store_big_endian(frame.data(), static_cast<std::uint32_t>(message.size()));
  std::ranges::copy(message, frame.begin() + kPrefixLen);
  return frame;
}

boost::system::result<std::optional<Frame>, FrameError> FrameCodec::decode(
    std::span<const std::uint8_t> buffered) const {
  if (buffered.size() < kPrefixLen) return std::nullopt;
  const std::size_t length = load_big_endian<std::uint32_t>(buffered.data());
  if (auto valid = check_max(length); !valid) return valid.error();
  if (buffered.size() - kPrefixLen < length) return std::nullopt;
  return Frame{buffered.subspan(kPrefixLen, length), kPrefixLen + length};
}

boost::system::result<void, FrameError> FrameCodec::end_of_stream(std::span<const std::uint8_t> buffered) {
  if (!buffered.empty()) return FrameError{FrameError::Kind::BytesRemainingOnStream};
  return {};
}

}  // namespace valdori::p2p::message
