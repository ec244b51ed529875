// Sending application data to one peer through its send handle.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include <boost/asio/awaitable.hpp>
#include <boost/system/result.hpp>

#include "p2p_core/node/error.hpp"
#include "p2p_core/node/send_handle.hpp"

namespace valdori::node {

// Sends `data` as one APP message: over the recipient's best direct path (short header once the
// recipient has given this node a short id), else relayed through the default super peer, over
// its TCP link when one is published, else over its UDP paths in order. Works on one snapshot of
// the handle's state and takes no lock. Its lines are written in the span "send", whose field is
// the recipient's key. The caller keeps `data` until the call completes.
using SendResult = boost::system::result<void, p2p::node::error::Error>;
boost::asio::awaitable<SendResult> send(const p2p::node::SendHandle& handle, std::span<const std::uint8_t> data);

// One packet of a burst and the handle of its recipient.
struct BurstPacket {
  const p2p::node::SendHandle* handle;
  std::span<const std::uint8_t> data;
};

// Sends bursts of packets for one task: each packet as `send` does, in order. Messages in a row
// for one direct path, of one size (the last may be shorter), leave in one segmented send (UDP
// GSO) where the kernel offers it; elsewhere, and once the kernel has refused one, datagram by
// datagram. It keeps its working room between bursts, so that a burst whose sends the sockets
// take at once allocates nothing.
class BurstSender {
 public:
  BurstSender();
  ~BurstSender();
  BurstSender(const BurstSender&) = delete;
  BurstSender& operator=(const BurstSender&) = delete;

  // Records each packet's outcome at the same index of `results`. One burst at a time.
  boost::asio::awaitable<void> send(std::span<const BurstPacket> burst, std::span<SendResult> results);

 private:
  class Run;
  std::unique_ptr<Run> run_;
};

}  // namespace valdori::node
