#include "platform/tun/tun_device.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <optional>
#include <tuple>
#include <utility>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/system/errc.hpp>

#include "util/log/log.hpp"

namespace valdori::platform {
namespace {

namespace asio = boost::asio;
using boost::system::error_code;

spdlog::logger& tun_logger() { return log::module_logger<"valdori_platform::tun">(); }

// AF_INET as the 32-bit big-endian protocol family that precedes each packet.
constexpr std::array<std::uint8_t, 4> kIpv4FamilyPrefix = {0x00, 0x00, 0x00, 0x02};

constexpr auto kAwaitResult = asio::as_tuple(asio::use_awaitable);

error_code errc_code(boost::system::errc::errc_t e) { return boost::system::errc::make_error_code(e); }

}  // namespace

boost::system::result<std::shared_ptr<TunDevice>> TunDevice::from_fd(const asio::any_io_executor& executor, int fd,
                                                                     TunFraming framing) {
  if (fd < 0) return errc_code(boost::system::errc::bad_file_descriptor);
  asio::posix::stream_descriptor descriptor(executor);
  error_code ec;
  descriptor.assign(fd, ec);
  if (ec) return ec;
  // Set once here rather than lazily by the first operation, so that concurrent operations
  // never write the descriptor's state.
  descriptor.non_blocking(true, ec);
  if (ec) {
    descriptor.release();
    return ec;
  }
  return std::shared_ptr<TunDevice>(new TunDevice(std::move(descriptor), framing));
}

boost::system::result<std::shared_ptr<TunDevice>> TunDevice::on_executor(const asio::any_io_executor& executor) {
  if (descriptor_.get_executor() == executor) return shared_from_this();
  const int copy = ::fcntl(descriptor_.native_handle(), F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return error_code(errno, boost::system::system_category());
  auto device = from_fd(executor, copy, framing_);
  if (!device) ::close(copy);
  return device;
}

namespace {

// The buffers one packet is read into: the caller's, after a prefix where the framing has one.
class IncomingFrame {
 public:
  IncomingFrame(TunFraming framing, std::span<std::uint8_t> packet)
      : buffers_{asio::buffer(prefix_), asio::buffer(packet.data(), packet.size())},
        first_(framing == TunFraming::Bare ? 1 : 0) {}
  IncomingFrame(const IncomingFrame&) = delete;
  IncomingFrame& operator=(const IncomingFrame&) = delete;

  std::span<const asio::mutable_buffer> view() const { return std::span(buffers_).subspan(first_); }
  // The length of the packet in a frame of `n` bytes; none for a frame that carries none.
  std::optional<std::size_t> packet_length(std::size_t n) const {
    if (first_ == 1) return n;
    if (n >= prefix_.size()) return n - prefix_.size();
    VLOG_DEBUG(tun_logger(), "Dropping tunnel frame of {} bytes, shorter than its protocol-family prefix", n);
    return std::nullopt;
  }

 private:
  std::array<std::uint8_t, kIpv4FamilyPrefix.size()> prefix_{};
  std::array<asio::mutable_buffer, 2> buffers_;
  std::size_t first_;
};

}  // namespace

asio::awaitable<boost::system::result<std::size_t>> TunDevice::recv(std::span<std::uint8_t> packet) {
  if (packet.empty()) co_return errc_code(boost::system::errc::invalid_argument);
  const IncomingFrame frame(framing_, packet);
  for (;;) {
    auto [ec, n] = co_await descriptor_.async_read_some(frame.view(), kAwaitResult);
    if (ec) co_return ec;
    if (const auto length = frame.packet_length(n)) co_return *length;
  }
}

boost::system::result<std::size_t> TunDevice::try_recv(std::span<std::uint8_t> packet) {
  if (packet.empty()) return errc_code(boost::system::errc::invalid_argument);
  const IncomingFrame frame(framing_, packet);
  for (;;) {
    error_code ec;
    const std::size_t n = descriptor_.read_some(frame.view(), ec);
    if (ec) return ec;
    if (const auto length = frame.packet_length(n)) return *length;
  }
}

namespace {

// The buffers of one packet on the descriptor: the packet, after its prefix where there is one.
struct OutgoingFrame {
  OutgoingFrame(TunFraming framing, std::span<const std::uint8_t> packet)
      : buffers{asio::buffer(kIpv4FamilyPrefix), asio::buffer(packet.data(), packet.size())},
        first(framing == TunFraming::Bare ? 1 : 0),
        size(packet.size() + (framing == TunFraming::Bare ? 0 : kIpv4FamilyPrefix.size())) {}
  std::span<const asio::const_buffer> view() const { return std::span(buffers).subspan(first); }

  std::array<asio::const_buffer, 2> buffers;
  std::size_t first;
  std::size_t size;
};

// The rest of a packet cannot follow in a later write: it would arrive as a packet of its own.
boost::system::result<void> whole_write(const error_code& ec, std::size_t written, const OutgoingFrame& frame) {
  if (ec) return ec;
  if (written != frame.size) return errc_code(boost::system::errc::message_size);
  return {};
}

}  // namespace

asio::awaitable<boost::system::result<void>> TunDevice::send(std::span<const std::uint8_t> packet) {
  if (packet.empty()) co_return errc_code(boost::system::errc::invalid_argument);
  const OutgoingFrame frame(framing_, packet);
  auto [ec, n] = co_await descriptor_.async_write_some(frame.view(), kAwaitResult);
  co_return whole_write(ec, n, frame);
}

boost::system::result<void> TunDevice::try_send(std::span<const std::uint8_t> packet) {
  if (packet.empty()) return errc_code(boost::system::errc::invalid_argument);
  const OutgoingFrame frame(framing_, packet);
  error_code ec;
  const std::size_t n = descriptor_.write_some(frame.view(), ec);
  return whole_write(ec, n, frame);
}

}  // namespace valdori::platform
