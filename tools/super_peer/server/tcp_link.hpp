// A node's TCP link to the super peer: one overlay message per frame in both directions.
// Outgoing frames wait in a bounded queue that the link's own writer drains, so that a node
// reading slowly never holds up the super peer's other work. Every member runs on the
// executor the socket was made with (the super peer's strand).
#pragma once

#include <boost/asio/awaitable.hpp>
#include <boost/asio/basic_waitable_timer.hpp>
#include <boost/asio/experimental/channel.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "p2p_core/message/frame_codec.hpp"
#include "p2p_core/net/socket_addr.hpp"
#include "p2p_core/node/clock.hpp"

namespace valdori::super_peer {

class TcpLink : public std::enable_shared_from_this<TcpLink> {
 public:
  // Whether the message dispatched (was answered or relayed) rather than dropped.
  using FrameHandler = std::function<bool(std::span<std::uint8_t> message)>;

  TcpLink(boost::asio::ip::tcp::socket socket, std::size_t max_message_len);

  const p2p::net::SocketAddr& remote() const { return remote_; }
  bool is_open() const { return open_; }

  // Queues one message as one frame; false when the link is closed or its queue is full.
  bool send(std::span<const std::uint8_t> message);
  // Ends both directions; idempotent.
  void close();

  // Hands every received message to `on_frame` until the link closes; a stream that breaks the
  // framing closes it.
  boost::asio::awaitable<void> read_frames(FrameHandler on_frame);
  // Writes the queued frames until the link closes; a failed write closes it.
  boost::asio::awaitable<void> write_frames();
  // Closes the link once no frame has dispatched for `timeout`: a silent or trickling peer, or
  // one sending junk, must not hold a connection for ever.
  boost::asio::awaitable<void> close_when_idle(std::chrono::nanoseconds timeout);

 private:
  using Queue = boost::asio::experimental::channel<void(boost::system::error_code, std::vector<std::uint8_t>)>;

  boost::asio::ip::tcp::socket socket_;
  p2p::net::SocketAddr remote_;  // in the form of a UDP source, for messages and logs
  p2p::message::FrameCodec codec_;
  Queue queue_;
  bool open_ = true;
  // Idle time counts a suspend, as the nodes' own timeouts do.
  p2p::node::IntervalClock::time_point last_dispatched_ = p2p::node::IntervalClock::now();
  boost::asio::basic_waitable_timer<p2p::node::IntervalClock> idle_timer_;
};

}  // namespace valdori::super_peer
