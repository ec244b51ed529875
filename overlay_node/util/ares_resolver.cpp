#include "overlay_node/util/ares_resolver.hpp"

#include <ares.h>
#include <netdb.h>
#include <sys/time.h>

#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/experimental/channel.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

namespace valdori::peer {
namespace {

namespace asio = boost::asio;
using p2p::net::SocketAddr;
using Resolved = boost::system::result<std::vector<SocketAddr>, std::string>;
using Strand = asio::strand<asio::any_io_executor>;
using WaitType = asio::posix::descriptor_base::wait_type;

Resolved failure(const std::string& text) { return Resolved(boost::system::in_place_error, text); }

std::vector<SocketAddr> addresses_of(const ares_addrinfo& info) {
  std::vector<SocketAddr> addrs;
  for (const ares_addrinfo_node* node = info.nodes; node != nullptr; node = node->ai_next) {
    SocketAddr addr;
    if (node->ai_addrlen > addr.capacity()) continue;
    std::memcpy(addr.data(), node->ai_addr, node->ai_addrlen);
    addr.resize(node->ai_addrlen);
    addrs.push_back(addr);
  }
  return addrs;
}

// One lookup on its strand: the channel, the sockets c-ares asks to have watched, and the timer
// of the channel's next timeout. Every c-ares call and callback happens on the strand.
class Lookup : public std::enable_shared_from_this<Lookup> {
 public:
  explicit Lookup(Strand strand) : strand_(strand), timer_(strand), deadline_(strand), answer_(strand, 1) {}
  Lookup(const Lookup&) = delete;
  Lookup& operator=(const Lookup&) = delete;
  ~Lookup() {
    // Destroying the channel ends the lookup and closes its sockets, reporting each as unwatched.
    if (channel_ != nullptr) ares_destroy(channel_);
  }

  asio::awaitable<Resolved> run(std::string servers, std::chrono::milliseconds limit, std::string host,
                                std::uint16_t port) {
    static const int library = ares_library_init(ARES_LIB_INIT_ALL);
    if (library != ARES_SUCCESS) co_return failure(ares_strerror(library));
    ares_options options{};
    options.sock_state_cb = &Lookup::on_socket_state;
    options.sock_state_cb_data = this;
    if (const int status = ares_init_options(&channel_, &options, ARES_OPT_SOCK_STATE_CB); status != ARES_SUCCESS) {
      channel_ = nullptr;
      co_return failure(ares_strerror(status));
    }
    if (!servers.empty()) {
      if (const int status = ares_set_servers_ports_csv(channel_, servers.c_str()); status != ARES_SUCCESS)
        co_return failure(ares_strerror(status));
    }
    deadline_.expires_after(limit);
    deadline_.async_wait([self = shared_from_this()](boost::system::error_code ec) {
      if (!ec && self->channel_ != nullptr) ares_cancel(self->channel_);
    });
    ares_addrinfo_hints hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;  // one entry per address
    hints.ai_flags = ARES_AI_NUMERICSERV;
    const std::string service = std::to_string(port);
    ares_getaddrinfo(channel_, host.c_str(), service.c_str(), &hints, &Lookup::on_answer, this);
    schedule_timeout();
    auto answer = co_await answer_.async_receive(asio::use_awaitable);
    // Ending the channel now closes its sockets, whose waits would otherwise keep this alive.
    deadline_.cancel();
    timer_.cancel();
    ares_destroy(std::exchange(channel_, nullptr));
    co_return answer;
  }

 private:
  struct Watch {
    explicit Watch(Strand strand, int fd) : descriptor(strand, fd) {}
    asio::posix::stream_descriptor descriptor;
    bool want_read = false;
    bool want_write = false;
    bool reading = false;
    bool writing = false;
  };

  // Called inside c-ares: the answer is handed over from a fresh handler, so that the waiting
  // coroutine never resumes (and ends the channel) inside a c-ares call.
  static void on_answer(void* self, int status, int /*timeouts*/, ares_addrinfo* info) {
    auto& lookup = *static_cast<Lookup*>(self);
    Resolved answer = status == ARES_SUCCESS ? Resolved(addresses_of(*info)) : failure(ares_strerror(status));
    if (info != nullptr) ares_freeaddrinfo(info);
    const auto owner = lookup.weak_from_this().lock();
    if (!owner) return;  // the lookup is being destroyed: nobody waits
    asio::post(lookup.strand_, [owner, answer = std::move(answer)]() mutable {
      owner->answer_.try_send(boost::system::error_code(), std::move(answer));
    });
  }

  static void on_socket_state(void* self, ares_socket_t fd, int readable, int writable) {
    auto& lookup = *static_cast<Lookup*>(self);
    auto found = lookup.watches_.find(fd);
    if (readable == 0 && writable == 0) {
      if (found == lookup.watches_.end()) return;
      // c-ares closes the socket itself; pending waits end aborted.
      found->second->descriptor.release();
      lookup.watches_.erase(found);
      return;
    }
    if (found == lookup.watches_.end()) {
      found = lookup.watches_.emplace(fd, std::make_shared<Watch>(lookup.strand_, fd)).first;
    }
    found->second->want_read = readable != 0;
    found->second->want_write = writable != 0;
    if (auto owner = lookup.weak_from_this().lock()) owner->arm(found->second);
  }

  void arm(const std::shared_ptr<Watch>& watch) {
    if (watch->want_read && !watch->reading) wait(watch, WaitType::wait_read);
    if (watch->want_write && !watch->writing) wait(watch, WaitType::wait_write);
  }

  void wait(const std::shared_ptr<Watch>& watch, WaitType type) {
    const bool readable = type == WaitType::wait_read;
    (readable ? watch->reading : watch->writing) = true;
    watch->descriptor.async_wait(type, [self = shared_from_this(), watch, readable](boost::system::error_code ec) {
      (readable ? watch->reading : watch->writing) = false;
      if (ec || !watch->descriptor.is_open() || self->channel_ == nullptr) return;
      const ares_socket_t fd = watch->descriptor.native_handle();
      ares_process_fd(self->channel_, readable ? fd : ARES_SOCKET_BAD, readable ? ARES_SOCKET_BAD : fd);
      if (watch->descriptor.is_open()) self->arm(watch);
      self->schedule_timeout();
    });
  }

  // The channel's own retry and timeout schedule, driven by one timer.
  void schedule_timeout() {
    timeval buffer{};
    const timeval* next = ares_timeout(channel_, nullptr, &buffer);
    if (next == nullptr) {
      timer_.cancel();
      return;
    }
    timer_.expires_after(std::chrono::seconds(next->tv_sec) + std::chrono::microseconds(next->tv_usec));
    timer_.async_wait([self = shared_from_this()](boost::system::error_code ec) {
      if (ec || self->channel_ == nullptr) return;
      ares_process_fd(self->channel_, ARES_SOCKET_BAD, ARES_SOCKET_BAD);
      self->schedule_timeout();
    });
  }

  Strand strand_;
  asio::steady_timer timer_;
  asio::steady_timer deadline_;
  asio::experimental::channel<void(boost::system::error_code, Resolved)> answer_;
  ares_channel channel_ = nullptr;
  std::map<ares_socket_t, std::shared_ptr<Watch>> watches_;
};

asio::awaitable<Resolved> resolve(std::string servers, std::chrono::milliseconds limit, std::string host,
                                  std::uint16_t port) {
  const Strand strand = asio::make_strand(co_await asio::this_coro::executor);
  auto lookup = std::make_shared<Lookup>(strand);
  co_return co_await asio::co_spawn(strand, lookup->run(std::move(servers), limit, std::move(host), port),
                                    asio::use_awaitable);
}

}  // namespace

HostResolver ares_resolver(std::string servers, std::chrono::milliseconds limit) {
  return [servers = std::move(servers), limit](std::string host, std::uint16_t port) {
    return resolve(servers, limit, std::move(host), port);
  };
}

}  // namespace valdori::peer
