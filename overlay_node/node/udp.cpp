#include "overlay_node/node/udp.hpp"

#include <exception>
#include <span>
#include <utility>
#include <vector>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "overlay_node/node/dispatch.hpp"
#include "p2p_core/node/guards.hpp"
#include "util/log/log.hpp"
#include "util/runtime/strand.hpp"

namespace valdori::node {
namespace {

namespace asio = boost::asio;
using p2p::node::NodeInner;
using p2p::node::UdpBinding;

spdlog::logger& lg() {
  static spdlog::logger& logger = log::logger("valdori_p2p::node::udp");
  return logger;
}

// Wakes the reader out of its receive once the binding is cancelled. Runs on the reader's
// strand; the reader checks the token before every receive, so a cancellation that comes while
// it dispatches is seen as well.
asio::awaitable<void> cancel_receive_on_token(std::shared_ptr<UdpBinding> binding) {
  co_await binding->token().cancelled();
  boost::system::error_code ignored;
  binding->socket()->cancel(ignored);
}

}  // namespace

asio::awaitable<void> udp_reader(std::shared_ptr<NodeInner> node, std::shared_ptr<UdpBinding> binding) {
  const p2p::node::UdpBindingGuard guard(node, binding);
  const std::size_t max_len = node->max_message_len();
  // One byte more than the longest message, to tell an oversized datagram from a full one.
  std::vector<std::uint8_t> buffer(max_len + 1);
  auto& socket = *binding->socket();
  const auto& token = binding->token();
  while (!token.is_cancelled()) {
    p2p::net::SocketAddr source;
    const auto [ec, received] =
        co_await socket.async_receive_from(asio::buffer(buffer), source, asio::as_tuple(asio::use_awaitable));
    if (token.is_cancelled()) break;
    if (ec) {
      VLOG_ERROR_LIMITED(lg(), "Error receiving datagram: {}", ec.message());
      continue;
    }
    if (received > max_len) {
      VLOG_WARN_LIMITED(lg(), "Dropped datagram from udp://{}: longer than {} bytes", source, max_len);
      continue;
    }
    auto replies = on_packet(*node, std::span(buffer).first(received), source, binding.get(), std::nullopt);
    if (!replies) {
      VLOG_WARN_LIMITED(lg(), "Error processing packet: {}", p2p::node::error::display(replies.error()));
      continue;
    }
    co_await send_replies(*node, std::move(*replies));
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
      VLOG_ERROR(lg(), "UDP reader failed: {}", e.what());
    } catch (...) {
      VLOG_ERROR(lg(), "UDP reader failed");
    }
  });
}

}  // namespace valdori::node
