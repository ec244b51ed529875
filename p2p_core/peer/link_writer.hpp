// The write side of a super peer's TCP link, as the node's senders see it. The node tasks
// implement it over the link's stream: one overlay message per frame, calls from many tasks
// serialised in arrival order so that frames never interleave.
#pragma once

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
};

}  // namespace valdori::p2p::peer
