// The tunnel device: the host's tunnel file descriptor as an asynchronous packet device.
//
// Every read yields one whole packet and every write hands over one whole packet. Several
// coroutines may read and write the same device at once, from any thread: each read gets a
// packet of its own. On Apple platforms each packet on the descriptor carries a 4-byte
// protocol-family prefix (00 00 00 02 for IPv4); the device strips it on receive and adds it on
// send, scattering and gathering around the caller's buffer so the packet is never copied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/system/result.hpp>

namespace valdori::platform {

enum class TunFraming : std::uint8_t {
  Bare,                  // the descriptor carries the packets as they are (Linux)
  ProtocolFamilyPrefix,  // each packet follows a 4-byte protocol family (Apple)
};

#ifdef __APPLE__
inline constexpr TunFraming kNativeTunFraming = TunFraming::ProtocolFamilyPrefix;
#else
inline constexpr TunFraming kNativeTunFraming = TunFraming::Bare;
#endif

class TunDevice : public std::enable_shared_from_this<TunDevice> {
 public:
  // Registers `fd` with the executor's I/O service and makes it non-blocking. The device owns
  // the descriptor from then on and closes it when it is destroyed; when this fails, the
  // descriptor stays the caller's.
  static boost::system::result<std::shared_ptr<TunDevice>> from_fd(const boost::asio::any_io_executor& executor, int fd,
                                                                   TunFraming framing = kNativeTunFraming);

  // The same device as an I/O object of `executor`'s I/O service, so that reads started on that
  // executor's thread complete there too: this device when it is one already, else one over a
  // duplicate of its descriptor (the tunnel stays open until both are destroyed). Each
  // registration is woken by every packet that arrives, so a device is best made on the
  // executor of its readers in the first place.
  boost::system::result<std::shared_ptr<TunDevice>> on_executor(const boost::asio::any_io_executor& executor);

  TunDevice(const TunDevice&) = delete;
  TunDevice& operator=(const TunDevice&) = delete;

  // Reads one packet into `packet` and gives its length. A packet longer than the buffer is cut
  // to the buffer's size by the descriptor, so a caller that wants to notice oversized packets
  // passes one byte more than it accepts. End of file (a read of 0 bytes) is an error, as is an
  // empty buffer.
  boost::asio::awaitable<boost::system::result<std::size_t>> recv(std::span<std::uint8_t> packet);
  // As recv, at once and on the calling thread: would_block when no packet is waiting.
  boost::system::result<std::size_t> try_recv(std::span<std::uint8_t> packet);

  // Writes `packet` as one packet. A write the descriptor takes only in part is an error, as is
  // an empty packet.
  boost::asio::awaitable<boost::system::result<void>> send(std::span<const std::uint8_t> packet);
  // As send, at once and on the calling thread: would_block when the descriptor takes no packet
  // now.
  boost::system::result<void> try_send(std::span<const std::uint8_t> packet);

  // The name of the interface behind the descriptor; empty when it is no tunnel device.
  std::string interface_name();
  // Logs a WARN naming what the descriptor is when the kernel reports it no TUN opened with
  // IFF_TUN | IFF_NO_PI (no tunnel device, a TAP, a TUN that puts a header before each packet,
  // where its mode can be read: see tun_packet_info.hpp): what it reads is then dropped as no
  // IPv4 packet, so the host learns why. Linux only: an Apple tunnel has no such mode.
  void warn_unless_bare_tun();

 private:
  TunDevice(boost::asio::posix::stream_descriptor descriptor, TunFraming framing)
      : descriptor_(std::move(descriptor)), framing_(framing) {}

  boost::asio::posix::stream_descriptor descriptor_;
  TunFraming framing_;
};

}  // namespace valdori::platform
