#include "overlay_node/node/tcp.hpp"

#include <vector>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/system/result.hpp>

#include "overlay_node/node/dispatch.hpp"
#include "overlay_node/node/frame_reader.hpp"
#include "overlay_node/node/link_writer.hpp"
#include "overlay_node/node/node.hpp"
#include "overlay_node/node/span_log.hpp"
#include "overlay_node/util/lookup_host.hpp"
#include "p2p_core/message/control_messages.hpp"
#include "util/runtime/race.hpp"
#include "util/runtime/strand.hpp"

namespace valdori::node {
namespace {

namespace asio = boost::asio;
using asio::ip::tcp;
using p2p::node::NodeInner;

spdlog::logger& lg() { return log::module_logger<"valdori_p2p::node::tcp">(); }

// Resolves `addr` and tries its addresses in order, each for at most `limit`, so that one
// address that swallows the connect does not hold up the others; the last failure is the answer.
asio::awaitable<boost::system::result<tcp::socket, std::string>> connect(std::string addr,
                                                                         std::chrono::milliseconds limit) {
  auto resolved = co_await peer::lookup_host(addr);
  if (!resolved) {
    if (resolved.error().is<p2p::peer::error::SuperPeerResolveEmpty>())
      co_return std::string("could not resolve to any address");
    co_return p2p::peer::error::display(resolved.error());
  }
  const auto executor = co_await asio::this_coro::executor;
  std::string failure;
  for (const auto& endpoint : *resolved) {
    tcp::socket socket(executor);
    auto attempt = co_await util::with_timeout(
        socket.async_connect(tcp::endpoint(endpoint.address(), endpoint.port()), asio::as_tuple(asio::use_awaitable)),
        limit);
    if (attempt && !std::get<0>(*attempt)) co_return std::move(socket);
    failure = attempt ? std::get<0>(*attempt).message() : std::make_error_code(std::errc::timed_out).message();
  }
  co_return failure;
}

// Ends the connection with the handler, whatever ended it: the writer may live on in senders'
// hands (send states), but a link whose frames nobody reads must not take relayed messages, so
// it is closed for them too.
struct ShutdownOnExit {
  tcp::socket& socket;
  p2p::peer::LinkWriter& writer;
  ~ShutdownOnExit() {
    writer.close();
    boost::system::error_code ignored;
    socket.shutdown(tcp::socket::shutdown_both, ignored);
  }
};

// Sends the node's HELLO as the link's first frame; false when the link cannot start.
asio::awaitable<bool> send_first_hello(NodeInner& node, const SpanLog& span, const std::string& addr,
                                       const p2p::PubKey& super_peer,
                                       const std::optional<p2p::crypto::SessionKey>& tx_key,
                                       p2p::peer::LinkWriter& writer, std::uint64_t hello_time) {
  const auto interfaces = Node::my_addrs(node.opts());
  if (!interfaces) {
    span.log(log::Level::warn, "my_addrs failed: {}", p2p::node::error::display(interfaces.error()));
    co_return false;
  }
  std::vector<asio::ip::address> addrs;
  for (const auto& entry : *interfaces) addrs.push_back(entry.addr);
  const auto candidates = node.my_endpoint_candidates(addrs);
  auto hello = p2p::message::HelloSuperPeerMessage::build(node.network_id(), node.pk(), node.pow(), tx_key, super_peer,
                                                          hello_time, candidates);
  if (!hello) {
    span.log(log::Level::warn, "building HELLO message failed: {}", p2p::message::error::display(hello.error()));
    co_return false;
  }
  if (const auto failed = co_await writer.write_frame(std::move(*hello))) {
    span.log(log::Level::warn,
             "Failed to send HELLO to super peer {} via tcp://{} immediately after connection establishment: {}",
             super_peer, addr, failed.message());
    co_return false;
  }
  span.log(log::Level::trace, "Sent HELLO to super peer {} via tcp://{} immediately after connection establishment.",
           super_peer, addr);
  co_return true;
}

// Dispatches every frame until the link's token fires or the link fails. A frame the
// dispatcher rejects (one too short for a header, empty ones included, a stale HELLO, a message
// it cannot disarm, a full peer table) is dropped like such a datagram: the super peer relays other nodes' messages
// over the link, and one bad sender among them must not cut this node off. Only framing and transport failures end it.
asio::awaitable<void> read_frames(std::shared_ptr<NodeInner> node, const SpanLog& span, const std::string& addr,
                                  p2p::peer::TcpConnection& link, const p2p::PubKey& super_peer,
                                  const p2p::net::SocketAddr& source, FrameReader& reader) {
  while (true) {
    auto read = co_await util::until_cancelled(link.token(), reader.next());
    if (!read) co_return;
    if (!*read) {
      span.log(log::Level::err, "Error receiving segment: {}", display(read->error()));
      co_return;
    }
    auto& frame = **read;
    if (!frame) {
      span.log_with(log::Level::err, {{"addr", addr}}, "");
      co_return;
    }
    auto replies = on_packet(*node, *frame, source, nullptr, super_peer);
    if (!replies) {
      SPAN_LOG_LIMITED(span, log::Level::warn, {}, "Error processing segment: {}",
                       p2p::node::error::display(replies.error()));
      continue;
    }
    co_await send_replies(*node, std::move(*replies));
  }
}

}  // namespace

asio::awaitable<void> tcp_connector(std::string addr, std::shared_ptr<p2p::peer::TcpConnection> link,
                                    p2p::node::TcpPathGuard guard, std::optional<p2p::crypto::SessionKey> tx_key,
                                    std::chrono::milliseconds connect_limit) {
  const SpanLog span(lg(), "tcp_connector", "super_peer", guard.super_peer().to_string());
  span.log(log::Level::trace, "Connect to super peer tcp://{}", addr);
  auto connected = co_await util::until_cancelled(link->token(), connect(addr, connect_limit));
  if (!connected) co_return;  // the link or the node was cancelled meanwhile
  if (!*connected) {
    span.log(log::Level::warn, "Failed to connect to super peer tcp://{}: {}", addr, connected->error());
    co_return;
  }
  tcp::socket socket = std::move(**connected);
  boost::system::error_code ec;
  socket.set_option(tcp::no_delay(true), ec);
  if (ec) span.log(log::Level::warn, "Failed to set TCP_NODELAY: {}", ec.message());
  co_await tcp_stream_handler(std::move(socket), std::move(addr), guard.node(), std::move(link), guard.super_peer(),
                              std::move(tx_key));
}

void spawn_tcp_connector(std::string addr, std::shared_ptr<p2p::peer::TcpConnection> link,
                         p2p::node::TcpPathGuard guard, std::optional<p2p::crypto::SessionKey> tx_key) {
  auto strand = util::make_task_strand(guard.node()->executor());
  asio::co_spawn(strand, tcp_connector(std::move(addr), std::move(link), std::move(guard), std::move(tx_key)),
                 asio::detached);
}

asio::awaitable<void> tcp_stream_handler(tcp::socket stream, std::string addr, std::shared_ptr<NodeInner> node,
                                         std::shared_ptr<p2p::peer::TcpConnection> link, p2p::PubKey super_peer,
                                         std::optional<p2p::crypto::SessionKey> tx_key) {
  const SpanLog span(lg(), "tcp_stream_handler", "super_peer", super_peer.to_string());
  span.log(log::Level::trace, "TCP connection to {} established", addr);
  boost::system::error_code ec;
  const auto remote = stream.remote_endpoint(ec);
  if (ec) {
    span.log(log::Level::warn, "Failed to read the address of super peer tcp://{}: {}", addr, ec.message());
    co_return;
  }
  const p2p::net::SocketAddr source(remote.address(), remote.port());
  FrameReader reader(std::move(stream), node->tcp_codec());
  auto writer = StreamLinkWriter::for_connection(reader.socket(), node->tcp_codec());
  if (!writer) {
    span.log(log::Level::warn, "Failed to set up the writer of tcp://{}: {}", addr, writer.error().message());
    co_return;
  }
  const ShutdownOnExit shutdown_on_exit{reader.socket(), **writer};

  const auto entry = node->peers().find_super_peer(super_peer);
  const std::uint64_t hello_time = entry ? entry->hello_clock().next(node->wall_time()) : node->wall_time();
  const std::uint64_t left_us = node->current_time_us();
  // Awaited into a variable first: GCC 12 miscompiles a negated co_await in a condition.
  const bool hello_sent = co_await send_first_hello(*node, span, addr, super_peer, tx_key, **writer, hello_time);
  if (!hello_sent) co_return;
  // Only onto this attempt's own record: its token is the one this handler stops on, so the
  // writer never outlives the link it writes on.
  if (entry && entry->tcp_connection() == link) {
    link->hello_tx(hello_time, left_us);
    link->set_stream(*writer);
  }
  co_await read_frames(node, span, addr, *link, super_peer, source, reader);
}

}  // namespace valdori::node
