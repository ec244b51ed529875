// The read side of a super peer's TCP link: the frame reader over a local stream socket that
// carries the input, read until the stream ends or the framing breaks.
//
// Input: one byte choosing the maximum frame length (1 + 5 * byte, up to 1276), then the bytes
// of the stream. Small limits make a few hundred bytes span several reads, so that the reader's
// buffer keeps and moves partial frames. Each message read must be exactly the next frame of the
// stream, and a clean end must come exactly at the end of the stream.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "fuzz/fuzz_input.hpp"
#include "fuzz/local_stream.hpp"
#include "overlay_node/node/frame_reader.hpp"

namespace valdori::fuzz {
namespace {

namespace asio = boost::asio;
using p2p::message::FrameCodec;

std::size_t prefix_at(std::span<const std::uint8_t> stream, std::size_t at) {
  return std::size_t{stream[at]} << 24 | std::size_t{stream[at + 1]} << 16 | std::size_t{stream[at + 2]} << 8 |
         stream[at + 3];
}

asio::awaitable<void> read_all(node::FrameReader& reader, std::span<const std::uint8_t> stream, std::size_t max) {
  std::size_t at = 0;
  for (;;) {
    const auto read = co_await reader.next();
    if (!read) {
      const auto error = read.error();
      (void)node::display(error);
      const auto* framing = std::get_if<p2p::message::FrameError>(&error.cause);
      check(framing != nullptr);  // a local socket does not fail
      if (framing->kind == p2p::message::FrameError::Kind::BytesRemainingOnStream) {
        check(at < stream.size());
      } else {
        check(stream.size() - at >= FrameCodec::kPrefixLen);
        const std::size_t length = prefix_at(stream, at);
        check(length > max);
      }
      co_return;
    }
    if (!*read) {
      check(at == stream.size());
      co_return;
    }
    const auto& message = **read;
    check(stream.size() - at >= FrameCodec::kPrefixLen + message.size());
    check(prefix_at(stream, at) == message.size() && message.size() <= max);
    check(std::equal(message.begin(), message.end(), stream.begin() + static_cast<std::ptrdiff_t>(at) + 4));
    at += FrameCodec::kPrefixLen + message.size();
  }
}

}  // namespace
}  // namespace valdori::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace valdori::fuzz;
  FuzzInput input(data, size);
  const std::size_t max = 1 + 5 * std::size_t{input.byte()};
  const auto stream = input.bytes(size);

  const auto fds = socket_pair();
  // The whole stream, then its end; a socket buffer holds far more than an input.
  std::size_t written = 0;
  while (written < stream.size()) {
    const ssize_t n = write(fds[1], stream.data() + written, stream.size() - written);
    if (n <= 0) std::abort();
    written += static_cast<std::size_t>(n);
  }
  close(fds[1]);

  asio::io_context io;
  asio::ip::tcp::socket socket(io);
  socket.assign(asio::ip::tcp::v4(), fds[0]);  // the reader only reads; the family is not looked at
  valdori::node::FrameReader reader(std::move(socket), FrameCodec(max));
  run_to_end(io, read_all(reader, stream, max));
  return 0;
}
