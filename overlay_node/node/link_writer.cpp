#include "overlay_node/node/link_writer.hpp"

#include <unistd.h>

#include <cerrno>
#include <utility>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>

#include "util/log/log.hpp"
#include "util/runtime/race.hpp"

namespace valdori::node {
namespace {

namespace asio = boost::asio;
using asio::ip::tcp;

spdlog::logger& lg() { return log::module_logger<"valdori_p2p::node::link_writer">(); }

std::error_code frame_error_code(const p2p::message::FrameError& e) {
  return std::make_error_code(e.kind == p2p::message::FrameError::Kind::TooLong ? std::errc::message_size
                                                                                : std::errc::invalid_argument);
}

}  // namespace

boost::system::result<std::shared_ptr<StreamLinkWriter>, std::error_code> StreamLinkWriter::for_connection(
    tcp::socket& connected, p2p::message::FrameCodec codec, std::chrono::milliseconds deadline) {
  boost::system::error_code ec;
  const auto local = connected.local_endpoint(ec);
  if (ec) return std::error_code(ec);
  const int descriptor = ::dup(connected.native_handle());
  if (descriptor < 0) return std::error_code(errno, std::system_category());
  tcp::socket socket(asio::make_strand(connected.get_executor()));
  if (socket.assign(local.protocol(), descriptor, ec); ec) {
    ::close(descriptor);
    return std::error_code(ec);
  }
  return std::make_shared<StreamLinkWriter>(std::move(socket), codec, deadline);
}

StreamLinkWriter::StreamLinkWriter(tcp::socket socket, p2p::message::FrameCodec codec,
                                   std::chrono::milliseconds deadline)
    : socket_(std::move(socket)), codec_(codec), deadline_(deadline) {}

asio::awaitable<std::error_code> StreamLinkWriter::write_frame(std::vector<std::uint8_t> message) {
  const auto guard = co_await mutex_.lock();
  if (failure_) co_return failure_;
  auto frame = codec_.encode(message);
  if (!frame) co_return frame_error_code(frame.error());
  failure_ = co_await asio::co_spawn(socket_.get_executor(), write_on_strand(std::move(*frame)), asio::use_awaitable);
  co_return failure_;
}

asio::awaitable<std::error_code> StreamLinkWriter::write_on_strand(std::vector<std::uint8_t> frame) {
  auto written = co_await util::with_timeout(
      asio::async_write(socket_, asio::buffer(frame), asio::as_tuple(asio::use_awaitable)), deadline_);
  if (!written) co_return std::make_error_code(std::errc::timed_out);
  co_return std::error_code(std::get<0>(*written));
}

asio::awaitable<bool> send_super_peer_tcp(p2p::node::NodeInner& node, std::vector<std::uint8_t> message,
                                          std::shared_ptr<p2p::peer::LinkWriter> writer, p2p::PubKey super_peer) {
  const std::error_code ec = co_await writer->write_frame(std::move(message));
  if (!ec) {
    VLOG_TRACE(lg(), "Sent to super peer via TCP.");
    co_return true;
  }
  VLOG_ERROR_LIMITED(lg(), "Failed to send message to super peer via TCP, shutting it down: {}", ec.message());
  // Only the link this writer belongs to: the super peer may have a newer one by now.
  const auto found = node.peers().find_super_peer(super_peer);
  const auto link = found ? found->tcp_connection() : nullptr;
  if (link && link->stream() == writer) link->cancel_connection();
  writer->close();
  co_return false;
}

}  // namespace valdori::node
