#include "overlay_node/node/frame_reader.hpp"

#include <algorithm>
#include <span>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/use_awaitable.hpp>

namespace valdori::node {
namespace {

namespace asio = boost::asio;
using p2p::message::FrameCodec;

// Room for a few frames at once, so that small frames arrive in few reads.
constexpr std::size_t kBufferedFrames = 4;

}  // namespace

std::string display(const FrameReadError& e) {
  if (const auto* io = std::get_if<std::error_code>(&e.cause)) return io->message();
  return p2p::message::display(std::get<p2p::message::FrameError>(e.cause));
}

FrameReader::FrameReader(asio::ip::tcp::socket socket, FrameCodec codec)
    : socket_(std::move(socket)),
      codec_(codec),
      // The codec refuses a longer frame as soon as its prefix is in, so the buffer always has
      // room for the rest of the frame it waits for.
      buffer_(kBufferedFrames * (FrameCodec::kPrefixLen + codec.max_frame_len())) {}

asio::awaitable<boost::system::result<std::optional<std::vector<std::uint8_t>>, FrameReadError>> FrameReader::next() {
  while (true) {
    const std::span<const std::uint8_t> buffered(buffer_.data() + begin_, end_ - begin_);
    auto frame = codec_.decode(buffered);
    if (!frame) co_return FrameReadError{frame.error()};
    if (*frame) {
      std::vector<std::uint8_t> message((*frame)->message.begin(), (*frame)->message.end());
      begin_ += (*frame)->consumed;
      co_return message;
    }
    if (begin_ > 0) {  // the frame waited for starts the buffer, so that all of it fits
      std::copy(buffer_.begin() + static_cast<std::ptrdiff_t>(begin_),
                buffer_.begin() + static_cast<std::ptrdiff_t>(end_), buffer_.begin());
      end_ -= begin_;
      begin_ = 0;
    }
    auto [ec, n] = co_await socket_.async_read_some(asio::buffer(buffer_.data() + end_, buffer_.size() - end_),
                                                    asio::as_tuple(asio::use_awaitable));
    if (ec == asio::error::eof) {
      const std::span<const std::uint8_t> left(buffer_.data(), end_);
      if (auto clean = FrameCodec::end_of_stream(left); !clean) co_return FrameReadError{clean.error()};
      co_return std::nullopt;
    }
    if (ec) co_return FrameReadError{std::error_code(ec)};
    end_ += n;
  }
}

}  // namespace valdori::node
