#include "overlay_node/node/udp.hpp"

#include <sys/socket.h>
#include <sys/uio.h>
#if defined(__linux__)
#include <netinet/in.h>
#include <netinet/udp.h>
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <exception>
#include <span>
#include <utility>
#include <vector>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "overlay_node/node/dispatch.hpp"
#include "p2p_core/node/guards.hpp"
#include "util/log/log.hpp"
#include "util/runtime/strand.hpp"
#include "util/text/debug_string.hpp"

namespace valdori::node {
namespace {

namespace asio = boost::asio;
using p2p::node::NodeInner;
using p2p::node::UdpBinding;
using p2p::node::UdpSocket;

spdlog::logger& lg() { return log::module_logger<"valdori_p2p::node::udp">(); }

// Wakes the reader out of its receive once the binding is cancelled. Runs on the reader's
// strand; the reader checks the token before every receive, so a cancellation that comes while
// it dispatches is seen as well.
asio::awaitable<void> cancel_receive_on_token(std::shared_ptr<UdpBinding> binding) {
  co_await binding->token().cancelled();
  boost::system::error_code ignored;
  binding->socket()->cancel(ignored);
}

// Datagrams a reader takes in a row before it lets other tasks of its thread run. Counted one by
// one also inside a coalesced read: counting reads let 32 reads of up to 60 datagrams each
// overrun the inbound queue (512 messages) before its consumers ran once.
constexpr std::size_t kBurst = 32;
// The most a coalesced read returns: one IP datagram's worth.
constexpr std::size_t kMaxCoalescedBytes = 65535;

// Asks the kernel to hand over datagrams of one flow that arrive together in one read (UDP
// GRO); false where it does not offer that.
bool receive_coalesced(UdpSocket& socket) {
#if defined(__linux__) && defined(UDP_GRO)
  const int on = 1;
  return ::setsockopt(socket.native_handle(), SOL_UDP, UDP_GRO, &on, sizeof(on)) == 0;
#else
  (void)socket;
  return false;
#endif
}

struct Received {
  boost::system::error_code error;
  std::size_t length = 0;
  std::size_t segment = 0;  // the size of each coalesced datagram; 0: one datagram
  bool truncated = false;   // longer than the buffer
  p2p::net::SocketAddr source;
};

// One read without waiting: would_block when nothing is waiting.
Received receive(UdpSocket& socket, std::span<std::uint8_t> buffer) {
  Received received;
  iovec part{buffer.data(), buffer.size()};
  alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> control{};
  msghdr header{};
  header.msg_name = received.source.data();
  header.msg_namelen = static_cast<socklen_t>(received.source.capacity());
  header.msg_iov = &part;
  header.msg_iovlen = 1;
  header.msg_control = control.data();
  header.msg_controllen = control.size();
  const ssize_t n = ::recvmsg(socket.native_handle(), &header, 0);
  if (n < 0) {
    received.error = errno == EAGAIN || errno == EWOULDBLOCK
                         ? boost::system::error_code(asio::error::would_block)
                         : boost::system::error_code(errno, boost::system::system_category());
    return received;
  }
  received.source.resize(header.msg_namelen);
  received.length = static_cast<std::size_t>(n);
  received.truncated = (header.msg_flags & MSG_TRUNC) != 0;
#if defined(__linux__) && defined(UDP_GRO)
  for (cmsghdr* option = CMSG_FIRSTHDR(&header); option != nullptr; option = CMSG_NXTHDR(&header, option)) {
    if (option->cmsg_level == SOL_UDP && option->cmsg_type == UDP_GRO) {
      int segment = 0;
      std::memcpy(&segment, CMSG_DATA(option), sizeof(segment));
      received.segment = segment > 0 ? static_cast<std::size_t>(segment) : 0;
    }
  }
#endif
  return received;
}

}  // namespace

asio::awaitable<void> udp_reader(std::shared_ptr<NodeInner> node, std::shared_ptr<UdpBinding> binding) {
  const p2p::node::UdpBindingGuard guard(node, binding);
  const std::size_t max_len = node->max_message_len();
  auto& socket = *binding->socket();
  const bool coalesced = receive_coalesced(socket);
  // One byte more than the longest message, to tell an oversized datagram from a full one; room
  // for a whole coalesced burst where the kernel hands them over so.
  std::vector<std::uint8_t> buffer(coalesced ? kMaxCoalescedBytes : max_len + 1);
  const auto& token = binding->token();
  std::size_t burst = 0;  // datagrams read without waiting
  bool woken = false;     // the last read was the first after a wait
  while (!token.is_cancelled()) {
    // Let the consumers of what was read have the thread: after a burst's worth, and at once
    // after the first read of a wake-up, so that its datagrams leave before the reader tries
    // again and arms its wait (the system calls are then off their way).
    if (burst >= kBurst || (woken && burst > 0)) {
      burst = 0;
      woken = false;
      co_await asio::post(co_await asio::this_coro::executor, asio::use_awaitable);
      continue;
    }
    Received received = receive(socket, buffer);
    if (received.error == asio::error::would_block) {
      if (burst > 0) {
        burst = 0;
        co_await asio::post(co_await asio::this_coro::executor, asio::use_awaitable);
        if (token.is_cancelled()) break;
      }
      const auto [ec] = co_await socket.async_wait(UdpSocket::wait_read, asio::as_tuple(asio::use_awaitable));
      if (token.is_cancelled()) break;
      if (ec) VLOG_ERROR_LIMITED(lg(), "Error receiving datagram: {}", ec.message());
      woken = true;
      continue;
    }
    if (received.error) {
      ++burst;
      VLOG_ERROR_LIMITED(lg(), "Error receiving datagram: {}", received.error.message());
      continue;
    }
    // A coalesced read holds datagrams of `segment` bytes each, the last maybe shorter; an empty
    // datagram is one datagram too, and gets its refusal.
    const std::size_t segment = received.segment == 0 ? std::max<std::size_t>(received.length, 1) : received.segment;
    for (std::size_t offset = 0; offset == 0 || offset < received.length; offset += segment) {
      ++burst;
      const std::span<std::uint8_t> datagram =
          std::span(buffer).subspan(offset, std::min(segment, received.length - offset));
      if (datagram.size() > max_len || received.truncated) {
        VLOG_WARN_LIMITED(lg(), "Dropped datagram from udp://{}: longer than {} bytes", received.source, max_len);
        break;
      }
      auto replies = on_packet(*node, datagram, received.source, binding.get(), std::nullopt);
      if (!replies) {
        VLOG_WARN_LIMITED(lg(), "Error processing packet: {}", p2p::node::error::display(replies.error()));
        continue;
      }
      // Data messages, nearly all of them, have no reply: no coroutine for those.
      if (!replies->udp.empty() || !replies->tcp.empty()) co_await send_replies(*node, std::move(*replies));
    }
  }
  VLOG_TRACE(lg(), "UDP binding cancelled: {}", *binding);
}

void spawn_udp_reader(std::shared_ptr<NodeInner> node, std::shared_ptr<UdpBinding> binding) {
  const auto strand = util::make_task_strand(node->executor());
  asio::co_spawn(strand, cancel_receive_on_token(binding), asio::detached);
  asio::co_spawn(strand, udp_reader(std::move(node), std::move(binding)), [](const std::exception_ptr& failure) {
    if (!failure) return;
    try {
      std::rethrow_exception(failure);
    } catch (const std::exception& e) {
      VLOG_ERROR(lg(), "UDP reader failed: {}", util::text::escape_controls(e.what()));
    } catch (...) {
      VLOG_ERROR(lg(), "UDP reader failed");
    }
  });
}

}  // namespace valdori::node
