// The read side of a super peer's TCP link: yields one overlay message per frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <system_error>
#include <variant>
#include <vector>

#include <boost/asio/awaitable.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/system/result.hpp>

#include "p2p_core/message/frame_codec.hpp"

namespace valdori::node {

// A failed read: the socket's error, or bytes that break the framing.
struct FrameReadError {
  std::variant<std::error_code, p2p::message::FrameError> cause;
};

std::string display(const FrameReadError& e);

class FrameReader {
 public:
  FrameReader(boost::asio::ip::tcp::socket socket, p2p::message::FrameCodec codec);

  boost::asio::ip::tcp::socket& socket() { return socket_; }

  // The next frame's message, in a buffer of exactly its length; none when the stream ended
  // cleanly between frames. A stream that ends inside a frame is an error.
  boost::asio::awaitable<boost::system::result<std::optional<std::vector<std::uint8_t>>, FrameReadError>> next();

 private:
  boost::asio::ip::tcp::socket socket_;
  p2p::message::FrameCodec codec_;
  std::vector<std::uint8_t> buffer_;  // received bytes live in [begin_, end_)
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

}  // namespace valdori::node
