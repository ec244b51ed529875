// The write side of a super peer's TCP link and the one operation every sender writes through.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <system_error>
#include <vector>

#include <boost/asio/awaitable.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/system/result.hpp>

#include "p2p_core/identity/keys.hpp"
#include "p2p_core/message/frame_codec.hpp"
#include "p2p_core/node/node_inner.hpp"
#include "p2p_core/peer/link_writer.hpp"
#include "util/runtime/mutex.hpp"

namespace valdori::node {

// A frame write that has not gone out by then fails, so that a super peer that stopped reading
// holds up its senders (UDP readers among them) for no longer than this.
inline constexpr std::chrono::milliseconds kLinkWriteDeadline{5000};

// Writes frames on a TCP connection, one whole frame per holder of a FIFO mutex. It owns a
// socket of its own on the connection (a duplicate of the reader's descriptor), so that reading
// and writing overlap without sharing a socket object, and the connection closes once both the
// reader and the writer are gone. After a failed write the stream may hold part of a frame, so
// every later write fails at once with the same error.
class StreamLinkWriter : public p2p::peer::LinkWriter {
 public:
  // The writer of the connection `connected` (which stays the reader's).
  static boost::system::result<std::shared_ptr<StreamLinkWriter>, std::error_code> for_connection(
      boost::asio::ip::tcp::socket& connected, p2p::message::FrameCodec codec,
      std::chrono::milliseconds deadline = kLinkWriteDeadline);

  // `socket` must have a strand as its executor.
  StreamLinkWriter(boost::asio::ip::tcp::socket socket, p2p::message::FrameCodec codec,
                   std::chrono::milliseconds deadline);

  boost::asio::awaitable<std::error_code> write_frame(std::vector<std::uint8_t> message) override;

 private:
  boost::asio::awaitable<std::error_code> write_on_strand(std::vector<std::uint8_t> frame);

  boost::asio::ip::tcp::socket socket_;
  p2p::message::FrameCodec codec_;
  std::chrono::milliseconds deadline_;
  util::Mutex mutex_;
  std::error_code failure_;  // guarded by mutex_
};

// Sends `message` as one frame on `writer`, the link of `super_peer`; false when it did not go
// out. A failed write is logged at ERROR, the writer is closed and the link it belongs to (the
// super peer's record whose published writer it is) is cancelled; a newer link of the same super
// peer is left alone.
boost::asio::awaitable<bool> send_super_peer_tcp(p2p::node::NodeInner& node, std::vector<std::uint8_t> message,
                                                 std::shared_ptr<p2p::peer::LinkWriter> writer, p2p::PubKey super_peer);

}  // namespace valdori::node
