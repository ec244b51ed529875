// The write side of a super peer's TCP link, as the node's senders see it. The node tasks
// implement it over the link's stream: one overlay message per frame, calls from many tasks
// serialised in arrival order so that frames never interleave.
#pragma once

#include <atomic>
#include <cstdint>
#include <system_error>
#include <vector>

#include <boost/asio/awaitable.hpp>

namespace valdori::p2p::peer {

class LinkWriter {
 public:
  virtual ~LinkWriter() = default;

  // Writes `message` as one frame and flushes it. Returns what failed, or no error; a message
  // longer than the largest frame fails with std::errc::message_size.
  virtual boost::asio::awaitable<std::error_code> write_frame(std::vector<std::uint8_t> message) = 0;

  // Set once the link has ended: senders that still hold the writer (a send state made before)
  // take another way instead of handing it messages that nobody reads.
  bool closed() const { return closed_.load(std::memory_order_acquire); }
  void close() { closed_.store(true, std::memory_order_release); }

 private:
  std::atomic<bool> closed_{false};
};

}  // namespace valdori::p2p::peer
