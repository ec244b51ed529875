#include "tools/super_peer/server/super_peer.hpp"

#include <fmt/format.h>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <chrono>
#include <exception>
#include <span>
#include <vector>

#include <sys/resource.h>

#include "p2p_core/message/layout.hpp"
#include "tools/super_peer/server/dispatcher.hpp"
#include "tools/super_peer/server/link_table.hpp"
#include "tools/super_peer/server/tcp_link.hpp"
#include "util/log/log.hpp"
#include "util/overloaded.hpp"
#include "util/text/debug_string.hpp"

namespace valdori::super_peer {
namespace {

namespace asio = boost::asio;
using asio::ip::tcp;
using asio::ip::udp;
using Strand = asio::strand<asio::any_io_executor>;

constexpr std::size_t kMaxMessageLen = p2p::message::kDefaultMaxMessageLen;
// Pause after a failed accept, so that running out of descriptors does not spin the loop.
constexpr std::chrono::milliseconds kAcceptRetryDelay{100};
// Descriptors kept for all but TCP links: the two sockets, the runtime's own, log files.
constexpr rlim_t kDescriptorReserve = 64;

spdlog::logger& lg() { return log::logger("valdori_super_peer"); }

auto log_failure(const char* task) {
  return [task](const std::exception_ptr& error) {
    if (!error) return;
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      VLOG_ERROR(lg(), "{} failed: {}", task, util::text::escape_controls(e.what()));
    }
  };
}

boost::system::result<p2p::SuperPeerUrl, std::string> url_of(const p2p::Identity& identity,
                                                             const SuperPeerOptions& options, std::uint16_t udp_port,
                                                             std::uint16_t tcp_port) {
  const auto& address = options.listen_address;
  const std::string host = address.is_v6() ? fmt::format("[{}]", address.to_string()) : address.to_string();
  auto url = p2p::SuperPeerUrl::try_from(fmt::format("udp://{}:{}?publicKey={}&networkId={}&tcpPort={}", host, udp_port,
                                                     identity.pk(), options.network_id, tcp_port));
  if (!url) return p2p::display(url.error());
  return *url;
}

// The configured cap on TCP links, lowered to keep the descriptor reserve free.
std::size_t link_cap(std::size_t configured) {
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY) return configured;
  const rlim_t room = files.rlim_cur > kDescriptorReserve ? files.rlim_cur - kDescriptorReserve : 0;
  if (room >= configured) return configured;
  VLOG_INFO(lg(), "At most {} TCP links: {} descriptors allowed", room, files.rlim_cur);
  return static_cast<std::size_t>(room);
}

}  // namespace

class SuperPeer::Server : public std::enable_shared_from_this<Server> {
 public:
  Server(Strand strand, udp::socket udp, tcp::acceptor acceptor, std::unique_ptr<Dispatcher> dispatcher,
         p2p::SuperPeerUrl url, const SuperPeerOptions& options)
      : strand_(std::move(strand)),
        udp_(std::move(udp)),
        acceptor_(std::move(acceptor)),
        dispatcher_(std::move(dispatcher)),
        url_(std::move(url)),
        links_(link_cap(options.max_tcp_links), options.max_tcp_links_per_address) {}

  const p2p::SuperPeerUrl& url() const { return url_; }

  void run(const SuperPeerOptions& options) {
    if (options.udp_enabled) asio::co_spawn(strand_, receive_datagrams(shared_from_this()), log_failure("UDP reader"));
    if (options.tcp_enabled)
      asio::co_spawn(strand_, accept_links(shared_from_this(), options), log_failure("TCP acceptor"));
  }

  void stop() {
    asio::post(strand_, [self = shared_from_this()] { self->close_all(); });
  }

 private:
  static asio::awaitable<void> receive_datagrams(std::shared_ptr<Server> self) {
    // One byte more than any valid message, to tell an oversized datagram from a full one.
    std::vector<std::uint8_t> buffer(kMaxMessageLen + 1);
    while (!self->stopped_) {
      p2p::net::SocketAddr source;
      auto [ec, n] =
          co_await self->udp_.async_receive_from(asio::buffer(buffer), source, asio::as_tuple(asio::use_awaitable));
      if (ec) {
        if (ec == asio::error::operation_aborted || ec == asio::error::bad_descriptor) break;
        VLOG_ERROR_LIMITED(lg(), "Error receiving datagram: {}", ec.message());
        continue;
      }
      if (n > kMaxMessageLen) {
        VLOG_WARN_LIMITED(lg(), "Dropped datagram from udp://{}: longer than {} bytes", source, kMaxMessageLen);
        continue;
      }
      self->deliver(self->dispatcher_->dispatch(std::span(buffer).first(n), Route{source}, Clock::now()));
    }
  }

  // A failing accept (out of descriptors, most likely) is logged when it starts failing, not on
  // every retry.
  static asio::awaitable<void> accept_links(std::shared_ptr<Server> self, SuperPeerOptions options) {
    bool failing = false;
    // Made before any failure: the first timer of the runtime needs a descriptor, which a full
    // file table would refuse.
    asio::steady_timer pause(self->strand_);
    while (!self->stopped_) {
      auto [ec, socket] = co_await self->acceptor_.async_accept(asio::as_tuple(asio::use_awaitable));
      if (ec) {
        if (ec == asio::error::operation_aborted || self->stopped_) break;
        if (!failing) VLOG_WARN(lg(), "Error accepting TCP link: {}", ec.message());
        failing = true;
        pause.expires_after(kAcceptRetryDelay);
        co_await pause.async_wait(asio::as_tuple(asio::use_awaitable));
        continue;
      }
      if (failing) VLOG_INFO(lg(), "Accepting TCP links again");
      failing = false;
      boost::system::error_code ignored;
      socket.set_option(tcp::no_delay(true), ignored);
      auto link = std::make_shared<TcpLink>(std::move(socket), kMaxMessageLen);
      if (!self->admit(link, options)) continue;
      asio::co_spawn(self->strand_, link->write_frames(), log_failure("TCP link writer"));
      asio::co_spawn(self->strand_, link->close_when_idle(options.tcp_idle_timeout), log_failure("TCP link watch"));
      asio::co_spawn(self->strand_, serve_link(self, link), log_failure("TCP link reader"));
    }
  }

  // Takes `link` into the table or closes it.
  bool admit(const std::shared_ptr<TcpLink>& link, const SuperPeerOptions& options) {
    auto admission = links_.admit(link);
    switch (admission.verdict) {
      case LinkTable::Verdict::GroupFull:
        VLOG_WARN_LIMITED(lg(), "Refused TCP link from tcp://{}: {} links from that address already", link->remote(),
                          options.max_tcp_links_per_address);
        link->close();
        return false;
      case LinkTable::Verdict::TableFull:
        VLOG_WARN_LIMITED(lg(), "Refused TCP link from tcp://{}: {} links in use already", link->remote(),
                          links_.max_links());
        link->close();
        return false;
      case LinkTable::Verdict::Admitted: break;
    }
    if (admission.displaced) {
      VLOG_DEBUG(lg(), "Closing TCP link of tcp://{} that dispatched nothing, to make room",
                 admission.displaced->remote());
      admission.displaced->close();
    }
    VLOG_DEBUG(lg(), "TCP link from tcp://{}", link->remote());
    return true;
  }

  static asio::awaitable<void> serve_link(std::shared_ptr<Server> self, std::shared_ptr<TcpLink> link) {
    co_await link->read_frames([&self, &link](std::span<std::uint8_t> message) {
      const auto outgoing = self->dispatcher_->dispatch(message, Route{link}, Clock::now());
      if (outgoing.empty()) return false;
      self->links_.prove(*link);
      self->deliver(outgoing);
      return true;
    });
    self->links_.remove(*link);
  }

  void deliver(const std::vector<Outgoing>& outgoing) {
    for (const Outgoing& out : outgoing) {
      std::visit(util::Overloaded{
                     [&](const p2p::net::SocketAddr& to) {
                       boost::system::error_code ec;
                       udp_.send_to(asio::buffer(out.message), to, 0, ec);
                       if (ec) VLOG_DEBUG(lg(), "Failed to send to udp://{}: {}", to, ec.message());
                     },
                     [&](const std::shared_ptr<TcpLink>& link) {
                       if (!link->send(out.message))
                         VLOG_DEBUG(lg(), "Dropped message for tcp://{}: link closed or congested", link->remote());
                     },
                 },
                 out.route);
    }
  }

  void close_all() {
    stopped_ = true;
    boost::system::error_code ignored;
    udp_.close(ignored);
    acceptor_.close(ignored);
    for (const auto& link : links_.release_all()) link->close();
  }

  Strand strand_;
  udp::socket udp_;
  tcp::acceptor acceptor_;
  std::unique_ptr<Dispatcher> dispatcher_;
  p2p::SuperPeerUrl url_;
  // Links still being read; the rest of the state belongs to the strand alone as well.
  LinkTable links_;
  bool stopped_ = false;
};

boost::system::result<std::unique_ptr<SuperPeer>, std::string> SuperPeer::start(const asio::any_io_executor& executor,
                                                                                const p2p::Identity& identity,
                                                                                const SuperPeerOptions& options) {
  auto dispatcher = Dispatcher::create(identity, options);
  if (!dispatcher) return p2p::crypto::error::display(dispatcher.error());

  Strand strand = asio::make_strand(executor);
  boost::system::error_code ec;
  const udp::endpoint udp_endpoint(options.listen_address, options.udp_port);
  udp::socket udp(strand);
  udp.open(udp_endpoint.protocol(), ec);
  if (!ec) udp.bind(udp_endpoint, ec);
  if (!ec) udp.non_blocking(true, ec);  // replies are sent in place and dropped when the buffer is full
  const auto udp_bound = ec ? udp::endpoint() : udp.local_endpoint(ec);
  if (ec) return fmt::format("cannot bind udp://{}: {}", udp_endpoint, ec.message());

  // A switched-off TCP side binds without listening: connections to it are refused.
  const tcp::endpoint tcp_endpoint(options.listen_address, options.tcp_port);
  tcp::acceptor acceptor(strand);
  acceptor.open(tcp_endpoint.protocol(), ec);
  if (!ec) acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
  if (!ec) acceptor.bind(tcp_endpoint, ec);
  if (!ec && options.tcp_enabled) acceptor.listen(tcp::acceptor::max_listen_connections, ec);
  const auto tcp_bound = ec ? tcp::endpoint() : acceptor.local_endpoint(ec);
  if (ec)
    return fmt::format("cannot bind tcp://{}: {}", p2p::net::SocketAddr(tcp_endpoint.address(), tcp_endpoint.port()),
                       ec.message());

  auto url = url_of(identity, options, udp_bound.port(), tcp_bound.port());
  if (!url) return url.error();
  auto server = std::make_shared<Server>(std::move(strand), std::move(udp), std::move(acceptor), std::move(*dispatcher),
                                         std::move(*url), options);
  server->run(options);
  VLOG_INFO(lg(), "Super peer {} serving network {} on {}", identity.pk(), options.network_id,
            server->url().to_string());
  return std::unique_ptr<SuperPeer>(new SuperPeer(std::move(server)));
}

SuperPeer::SuperPeer(std::shared_ptr<Server> server) : server_(std::move(server)) {}

SuperPeer::~SuperPeer() { stop(); }

const p2p::SuperPeerUrl& SuperPeer::url() const { return server_->url(); }

void SuperPeer::stop() { server_->stop(); }

}  // namespace valdori::super_peer
