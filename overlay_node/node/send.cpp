#include "overlay_node/node/send.hpp"

#include <array>
#include <atomic>
#include <cstring>
#include <utility>

#if defined(__linux__)
#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/socket.h>
#endif

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "overlay_node/node/link_writer.hpp"
#include "overlay_node/node/span_log.hpp"
#include "p2p_core/message/app_message.hpp"
#include "p2p_core/message/arming.hpp"
#include "p2p_core/message/layout.hpp"
#include "p2p_core/message/short_header.hpp"
#include "p2p_core/node/node_inner.hpp"
#include "util/log/log.hpp"
#include "util/mem/buffer_pool.hpp"

namespace valdori::node {
namespace {

namespace asio = boost::asio;
namespace error = p2p::node::error;

// A segmented send carries at most this many datagrams and bytes.
constexpr std::size_t kMaxSegments = 64;
constexpr std::size_t kMaxSegmentedBytes = 65000;

spdlog::logger& lg() { return log::module_logger<"valdori_p2p::node::send_handle">(); }

// The span of one send. Made per packet: it renders the recipient's key only for an event that
// is written.
SpanLog send_span(const p2p::node::SendHandle& handle) { return {lg(), "send", "recipient", handle.recipient()}; }

std::string local_addr_text(const p2p::node::UdpSocket& socket) {
  boost::system::error_code ec;
  const auto local = socket.local_endpoint(ec);
  return ec ? std::string("unknown") : p2p::net::to_string(local);
}

// The message carrying `data`, built and armed in place in a pooled buffer.
boost::system::result<std::vector<std::uint8_t>, p2p::message::error::Error> build_app(
    const p2p::node::NodeInner& node, const p2p::node::SendHandle& handle, const p2p::node::SendHandleState& state,
    std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> message = util::mem::take_buffer({});
  message.resize(p2p::message::kLongHeaderLen + p2p::message::kArmOverhead + data.size());
  // A short header is understood only on the direct path it was agreed for.
  const auto length = state.best_direct_path && state.tx_short_id
                          ? p2p::message::ShortHeader::build_into(message, *state.tx_short_id, state.tx_key, data)
                          : p2p::message::AppMessage::build_into(message, node.network_id(), node.pk(), node.pow(),
                                                                 state.tx_key, handle.recipient(), data);
  if (!length) return length.error();
  message.resize(*length);
  return message;
}

// Sends at once on the calling thread; would_block means that the socket has no room.
boost::system::error_code try_send_datagram(p2p::node::UdpSocket& socket, std::span<const std::uint8_t> message,
                                            const p2p::net::SocketAddr& to) {
  boost::system::error_code ec;
  socket.send_to(asio::buffer(message.data(), message.size()), to, 0, ec);
  return ec;
}

// Sends at once when the socket takes the datagram, so that the sender keeps its thread; waits
// for room only when the socket has none.
asio::awaitable<boost::system::error_code> send_datagram(p2p::node::UdpSocket& socket,
                                                         std::span<const std::uint8_t> message,
                                                         const p2p::net::SocketAddr& to) {
  const auto ec = try_send_datagram(socket, message, to);
  if (ec != asio::error::would_block) co_return ec;
  const auto [waited, sent] = co_await socket.async_send_to(asio::buffer(message.data(), message.size()), to,
                                                            asio::as_tuple(asio::use_awaitable));
  co_return waited;
}

// A message built for one recipient, with the node and the send state it was built on.
struct Prepared {
  std::shared_ptr<p2p::node::NodeInner> node;
  std::shared_ptr<const p2p::node::SendHandleState> state;
  std::vector<std::uint8_t> message;
};

boost::system::result<Prepared, error::Error> prepare(const p2p::node::SendHandle& handle,
                                                      std::span<const std::uint8_t> data, const SpanLog& span) {
  if (span.logger().should_log(log::Level::trace))
    span.log_with(log::Level::trace, {{"len", std::to_string(data.size())}}, "Send message");
  auto node = handle.node();
  if (!node) return error::SendHandleClosed{};
  auto state = handle.state();
  auto message = build_app(*node, handle, *state, data);
  if (!message) return error::MessageError{message.error()};
  if (message->size() > node->max_message_len()) {
    const std::size_t length = message->size();
    util::mem::recycle_buffer(std::move(*message));
    return error::AppLenInvalid{length, node->max_message_len()};
  }
  state->app_tx->store(node->cached_time(), std::memory_order_release);
  return Prepared{std::move(node), std::move(state), std::move(*message)};
}

// Sends a prepared message over the direct path, else relayed; recycles its buffer.
asio::awaitable<SendResult> transmit(const p2p::node::SendHandle& handle, Prepared prepared, const SpanLog& span) {
  const auto& [node, state, message] = prepared;
  // The buffer goes back to the pool however the send ends.
  struct Recycle {
    std::vector<std::uint8_t>& buffer;
    ~Recycle() { util::mem::recycle_buffer(std::move(buffer)); }
  } recycle{prepared.message};

  if (const auto& direct = state->best_direct_path) {
    const auto ec = co_await send_datagram(*direct->socket, message, direct->addr);
    if (ec) co_return error::SendingDirectError{ec, direct->addr};
    span.log(log::Level::debug, "Sent APP via udp://{}", direct->addr);
    // Success is built in place: GCC 12 takes the move of an empty result for a read of an
    // uninitialised error.
    co_return boost::system::in_place_value;
  }

  const p2p::PubKey super_peer = node->peers().default_route();
  // A link that has ended since the state was made, or fails this write, leaves the message to
  // the UDP relay paths: the link gets a copy.
  if (const auto& link = state->super_peer_tcp; link && !link->closed()) {
    const bool sent = co_await send_super_peer_tcp(*node, message, link, super_peer);
    if (sent) co_return boost::system::in_place_value;
  }
  for (const auto& target : state->relay_targets) {
    const auto ec = co_await send_datagram(*target.socket, message, target.addr);
    if (!ec) {
      span.log(log::Level::trace, "Relayed APP via super peer {} -> {}", local_addr_text(*target.socket), target.addr);
      co_return boost::system::in_place_value;
    }
    SPAN_LOG_LIMITED(span, log::Level::warn, {}, "Failed to relay APP via super peer {} -> {}: {}",
                     local_addr_text(*target.socket), target.addr, ec.message());
  }
  SPAN_LOG_LIMITED(span, log::Level::warn, {}, "Failed to relay APP via super peer.");
  co_return error::SendingRelayedError{handle.recipient(), super_peer};
}

// Cleared once the kernel refuses a segmented send: every later run goes datagram by datagram.
std::atomic<bool> segmentation_offload{true};

// Sends `messages`, all of `segment` bytes but the last (which may be shorter), as one
// segmented send: the kernel cuts it into one datagram per message.
boost::system::error_code send_segmented(p2p::node::UdpSocket& socket, const p2p::net::SocketAddr& to,
                                         std::span<const std::vector<std::uint8_t>> messages, std::uint16_t segment) {
#if defined(__linux__) && defined(UDP_SEGMENT)
  std::array<iovec, kMaxSegments> parts{};
  for (std::size_t i = 0; i < messages.size(); ++i) {
    parts[i] = {const_cast<std::uint8_t*>(messages[i].data()), messages[i].size()};
  }
  alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(std::uint16_t))> control{};
  msghdr header{};
  header.msg_name = const_cast<sockaddr*>(to.data());
  header.msg_namelen = static_cast<socklen_t>(to.size());
  header.msg_iov = parts.data();
  header.msg_iovlen = messages.size();
  header.msg_control = control.data();
  header.msg_controllen = control.size();
  cmsghdr* size_option = CMSG_FIRSTHDR(&header);
  size_option->cmsg_level = SOL_UDP;
  size_option->cmsg_type = UDP_SEGMENT;
  size_option->cmsg_len = CMSG_LEN(sizeof(segment));
  std::memcpy(CMSG_DATA(size_option), &segment, sizeof(segment));
  if (::sendmsg(socket.native_handle(), &header, 0) >= 0) return {};
  return {errno, boost::system::system_category()};
#else
  (void)socket, (void)to, (void)messages, (void)segment;
  return asio::error::operation_not_supported;
#endif
}

}  // namespace

// Messages in a row for one direct path, each as long as the first but the last. It lives as long
// as its BurstSender, so that no burst allocates room for up to 64 messages.
class BurstSender::Run {
 public:
  bool takes(const p2p::node::UdpTarget& path, std::size_t length) const {
    return count_ > 0 && count_ < kMaxSegments && path.socket == socket_ && path.addr == addr_ &&
           messages_[count_ - 1].size() == segment_ && length <= segment_ && bytes_ + length <= kMaxSegmentedBytes &&
           segmentation_offload.load(std::memory_order_relaxed);
  }
  void start(const p2p::node::UdpTarget& path) {
    socket_ = path.socket;
    addr_ = path.addr;
    segment_ = 0;
  }
  void add(std::size_t index, std::vector<std::uint8_t> message) {
    if (count_ == 0) segment_ = message.size();
    bytes_ += message.size();
    indices_[count_] = index;
    messages_[count_++] = std::move(message);
  }

  // Sends what the socket takes at once and records each message's outcome at its index. False
  // when the socket had no room for the rest: `finish` then waits for it.
  bool flush_now(std::span<const BurstPacket> burst, std::span<SendResult> results) {
    if (count_ > 1 && sent_ == 0) {
      const std::span<const std::vector<std::uint8_t>> messages(messages_.data(), count_);
      const auto ec = send_segmented(*socket_, addr_, messages, static_cast<std::uint16_t>(segment_));
      if (!ec) {
        while (sent_ < count_) record(burst, results, {});
      } else if (ec != asio::error::would_block && ec != asio::error::no_buffer_space) {
        VLOG_DEBUG(lg(), "Segmented UDP send refused ({}): sending datagram by datagram", ec.message());
        segmentation_offload.store(false, std::memory_order_relaxed);
      }
    }
    while (sent_ < count_) {
      const auto ec = try_send_datagram(*socket_, messages_[sent_], addr_);
      if (ec == asio::error::would_block) return false;
      record(burst, results, ec);
    }
    reset();
    return true;
  }

  asio::awaitable<void> finish(std::span<const BurstPacket> burst, std::span<SendResult> results) {
    while (sent_ < count_) record(burst, results, co_await send_datagram(*socket_, messages_[sent_], addr_));
    reset();
  }

 private:
  void record(std::span<const BurstPacket> burst, std::span<SendResult> results, boost::system::error_code ec) {
    const std::size_t index = indices_[sent_];
    if (ec) {
      results[index] = error::SendingDirectError{ec, addr_};
    } else {
      send_span(*burst[index].handle).log(log::Level::debug, "Sent APP via udp://{}", addr_);
      results[index].emplace();  // GCC 12 takes moving a success in for a read of an uninitialised error
    }
    util::mem::recycle_buffer(std::move(messages_[sent_++]));
  }
  void reset() {
    count_ = sent_ = bytes_ = 0;
    socket_.reset();
  }

  p2p::node::SharedUdpSocket socket_;
  p2p::net::SocketAddr addr_;
  std::size_t segment_ = 0;
  std::size_t bytes_ = 0;
  std::size_t count_ = 0;
  std::size_t sent_ = 0;
  std::array<std::size_t, kMaxSegments> indices_{};
  std::array<std::vector<std::uint8_t>, kMaxSegments> messages_;
};

asio::awaitable<SendResult> send(const p2p::node::SendHandle& handle, std::span<const std::uint8_t> data) {
  const SpanLog span = send_span(handle);
  auto prepared = prepare(handle, data, span);
  if (!prepared) co_return prepared.error();
  co_return co_await transmit(handle, std::move(*prepared), span);
}

BurstSender::BurstSender() : run_(std::make_unique<Run>()) {}
BurstSender::~BurstSender() = default;

asio::awaitable<void> BurstSender::send(std::span<const BurstPacket> burst, std::span<SendResult> results) {
  Run& run = *run_;
  for (std::size_t i = 0; i < burst.size(); ++i) {
    const SpanLog span = send_span(*burst[i].handle);
    auto prepared = prepare(*burst[i].handle, burst[i].data, span);
    if (!prepared) {
      results[i] = prepared.error();
      continue;
    }
    const auto& direct = prepared->state->best_direct_path;
    if (direct && run.takes(*direct, prepared->message.size())) {
      run.add(i, std::move(prepared->message));
      continue;
    }
    // Awaited only when the socket has no room: no coroutine is made for a send it takes at once.
    if (!run.flush_now(burst, results)) co_await run.finish(burst, results);
    if (direct) {
      run.start(*direct);
      run.add(i, std::move(prepared->message));
    } else {
      results[i] = co_await transmit(*burst[i].handle, std::move(*prepared), span);
    }
  }
  if (!run.flush_now(burst, results)) co_await run.finish(burst, results);
}

}  // namespace valdori::node
