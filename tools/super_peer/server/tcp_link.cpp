#include "tools/super_peer/server/tcp_link.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>

#include "util/log/log.hpp"

namespace valdori::super_peer {
namespace {

// Frames waiting for a slow reader; beyond this the link drops new ones.
constexpr std::size_t kQueueCapacity = 256;
constexpr std::size_t kReadChunk = 4096;

spdlog::logger& lg() { return log::logger("valdori_super_peer"); }

}  // namespace

TcpLink::TcpLink(boost::asio::ip::tcp::socket socket, std::size_t max_message_len)
    : socket_(std::move(socket)),
      codec_(max_message_len),
      queue_(socket_.get_executor(), kQueueCapacity),
      idle_timer_(socket_.get_executor()) {
  boost::system::error_code ec;
  const auto remote = socket_.remote_endpoint(ec);
  remote_ = {remote.address(), remote.port()};
}

bool TcpLink::send(std::span<const std::uint8_t> message) {
  if (!open_) return false;
  auto frame = codec_.encode(message);
  if (!frame) {
    VLOG_WARN_LIMITED(lg(), "Dropped message for tcp://{}: {}", remote_, p2p::message::display(frame.error()));
    return false;
  }
  return queue_.try_send(boost::system::error_code{}, std::move(*frame));
}

void TcpLink::close() {
  if (!open_) return;
  open_ = false;
  queue_.close();
  idle_timer_.cancel();
  boost::system::error_code ignored;
  socket_.shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
  socket_.close(ignored);
  VLOG_DEBUG(lg(), "Closed TCP link of tcp://{}", remote_);
}

boost::asio::awaitable<void> TcpLink::read_frames(FrameHandler on_frame) {
  auto self = shared_from_this();
  std::vector<std::uint8_t> pending;
  std::vector<std::uint8_t> chunk(kReadChunk);
  while (open_) {
    auto [ec, n] =
        co_await socket_.async_read_some(boost::asio::buffer(chunk), boost::asio::as_tuple(boost::asio::use_awaitable));
    if (ec) {
      if (ec != boost::asio::error::eof) {
        if (open_) VLOG_DEBUG(lg(), "Error receiving from tcp://{}: {}", remote_, ec.message());
      } else if (auto end = p2p::message::FrameCodec::end_of_stream(pending); !end) {
        VLOG_WARN_LIMITED(lg(), "TCP link of tcp://{} ended: {}", remote_, p2p::message::display(end.error()));
      }
      break;
    }
    pending.insert(pending.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
    std::size_t consumed = 0;
    while (open_) {
      auto frame = codec_.decode(std::span(pending).subspan(consumed));
      if (!frame) {
        VLOG_WARN_LIMITED(lg(), "Closing TCP link of tcp://{}: {}", remote_, p2p::message::display(frame.error()));
        close();
        break;
      }
      if (!*frame) break;
      // The handler disarms in place, so it gets bytes of its own.
      std::vector<std::uint8_t> message((*frame)->message.begin(), (*frame)->message.end());
      consumed += (*frame)->consumed;
      if (on_frame(message)) last_dispatched_ = p2p::node::IntervalClock::now();
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(consumed));
  }
  close();
}

boost::asio::awaitable<void> TcpLink::close_when_idle(std::chrono::nanoseconds timeout) {
  auto self = shared_from_this();
  while (open_) {
    const auto deadline = last_dispatched_ + timeout;
    if (p2p::node::IntervalClock::now() >= deadline) {
      VLOG_DEBUG(lg(), "Closing idle TCP link of tcp://{}", remote_);
      close();
      break;
    }
    idle_timer_.expires_at(deadline);
    co_await idle_timer_.async_wait(boost::asio::as_tuple(boost::asio::use_awaitable));
  }
}

boost::asio::awaitable<void> TcpLink::write_frames() {
  auto self = shared_from_this();
  while (open_) {
    auto [closed, frame] = co_await queue_.async_receive(boost::asio::as_tuple(boost::asio::use_awaitable));
    if (closed) break;
    [[maybe_unused]] auto [ec, written] = co_await boost::asio::async_write(
        socket_, boost::asio::buffer(frame), boost::asio::as_tuple(boost::asio::use_awaitable));
    if (ec) {
      if (open_) VLOG_DEBUG(lg(), "Error sending to tcp://{}: {}", remote_, ec.message());
      break;
    }
  }
  close();
}

}  // namespace valdori::super_peer
