#include "platform/tun/tun_device.hpp"

#include <array>
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

spdlog::logger& tun_logger() {
  static spdlog::logger& logger = log::logger("valdori_platform::tun");
  return logger;
}

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

asio::awaitable<boost::system::result<std::size_t>> TunDevice::recv(std::span<std::uint8_t> packet) {
  if (packet.empty()) co_return errc_code(boost::system::errc::invalid_argument);
  if (framing_ == TunFraming::Bare) {
    auto [ec, n] = co_await descriptor_.async_read_some(asio::buffer(packet.data(), packet.size()), kAwaitResult);
    if (ec) co_return ec;
    co_return n;
  }
  std::array<std::uint8_t, kIpv4FamilyPrefix.size()> prefix{};
  const std::array<asio::mutable_buffer, 2> frame = {asio::buffer(prefix), asio::buffer(packet.data(), packet.size())};
  for (;;) {
    auto [ec, n] = co_await descriptor_.async_read_some(frame, kAwaitResult);
    if (ec) co_return ec;
    if (n >= prefix.size()) co_return n - prefix.size();
    // A frame without a whole prefix carries no packet; the next one may.
    VLOG_DEBUG(tun_logger(), "Dropping tunnel frame of {} bytes, shorter than its protocol-family prefix", n);
  }
}

asio::awaitable<boost::system::result<void>> TunDevice::send(std::span<const std::uint8_t> packet) {
  if (packet.empty()) co_return errc_code(boost::system::errc::invalid_argument);
  std::size_t expected = packet.size();
  std::size_t written = 0;
  if (framing_ == TunFraming::Bare) {
    auto [ec, n] = co_await descriptor_.async_write_some(asio::buffer(packet.data(), packet.size()), kAwaitResult);
    if (ec) co_return ec;
    written = n;
  } else {
    const std::array<asio::const_buffer, 2> frame = {asio::buffer(kIpv4FamilyPrefix),
                                                     asio::buffer(packet.data(), packet.size())};
    expected += kIpv4FamilyPrefix.size();
    auto [ec, n] = co_await descriptor_.async_write_some(frame, kAwaitResult);
    if (ec) co_return ec;
    written = n;
  }
  // The rest of a packet cannot follow in a later write: it would arrive as a packet of its own.
  if (written != expected) co_return errc_code(boost::system::errc::message_size);
  co_return boost::system::result<void>{};
}

}  // namespace valdori::platform
