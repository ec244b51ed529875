// A member's messages to a node while strangers flood it from many addresses: APPs of many keys
// with a valid proof of work, armed under a key nobody shares, so that none authenticates and
// each key not yet agreed with asks for a key agreement. Node A has node B as its member; B sends
// A a message every 25 ms that carries its send time, and A's sink takes the delay.
//
// A runs on a runtime of its own (two threads); B and the super peer share another. The flood
// comes from a child process, from 127.66.x.y addresses at a fixed rate; A's processor time is
// this process's (B's and the super peer's share is small: one message each way every 25 ms).
//
// Usage: bench_member_flood [RATE] [SECONDS] [SOURCES] [KEYS]
//        (defaults 20000 datagrams/s, 10 s, 2000 addresses, 8192 keys)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include "overlay_node/node/node.hpp"
#include "overlay_node/node/send.hpp"
#include "p2p_core/identity/pow_search.hpp"
#include "p2p_core/message/app_message.hpp"
#include "p2p_core/node/node_inner.hpp"
#include "p2p_core/node/opts_builder.hpp"
#include "tools/super_peer/server/super_peer.hpp"
#include "util/log/log.hpp"
#include "util/runtime/runtime.hpp"

namespace {

namespace asio = boost::asio;
using namespace valdori;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kDifficulty = 4;
constexpr std::uint32_t kNetworkId = 7;
constexpr auto kMessageGap = std::chrono::milliseconds(25);
constexpr auto kSetUpLimit = std::chrono::seconds(30);

template <class Result>
auto must(Result&& result, const char* what) {
  if (!result) throw std::runtime_error(std::string("set-up failed: ") + what);
  return *std::forward<Result>(result);
}

double process_cpu() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto of = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
  };
  return of(usage.ru_utime) + of(usage.ru_stime);
}

std::int64_t now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// The delays of the timed messages that arrived, in microseconds.
class DelaySink : public p2p::node::MessageSink {
 public:
  void accept(const p2p::PubKey&, std::vector<std::uint8_t> message) override {
    if (message.size() != sizeof(std::int64_t)) return;
    std::int64_t sent = 0;
    std::memcpy(&sent, message.data(), sizeof sent);
    const std::lock_guard lock(mutex_);
    delays_us_.push_back(static_cast<double>(now_ns() - sent) / 1000.0);
  }
  std::vector<double> take() {
    const std::lock_guard lock(mutex_);
    return std::exchange(delays_us_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<double> delays_us_;
};

node::Node bind_node(util::Runtime& runtime, const p2p::Identity& id, const p2p::SuperPeerUrl& super_peer,
                     std::shared_ptr<p2p::node::MessageSink> sink) {
  auto opts = must(p2p::node::NodeOptsBuilder()
                       .id(id)
                       .udp_addrs({asio::ip::address_v4::loopback()})
                       .udp_port(0)
                       .min_pow_difficulty(kDifficulty)
                       .housekeeping_interval(200)
                       .super_peers({super_peer})
                       .message_sink(std::move(sink))
                       .build(),
                   "options");
  return must(runtime.block_on(node::Node::bind(runtime.executor(), std::move(opts))), "bind");
}

// Sends `apps` in turn from `sources` addresses at `rate` a second for `seconds`, to `port`.
[[noreturn]] void flood(const std::vector<Bytes>& apps, std::size_t sources, double rate, double seconds,
                        int port_pipe) {
  std::uint16_t port = 0;
  if (read(port_pipe, &port, sizeof port) != sizeof port) std::_Exit(1);
  asio::io_context io;
  std::vector<asio::ip::udp::socket> sockets;
  for (std::size_t n = 0; n < sources; ++n) {
    const asio::ip::address_v4 from(
        {127, 66, static_cast<std::uint8_t>(n / 250), static_cast<std::uint8_t>(n % 250 + 1)});
    sockets.emplace_back(io, asio::ip::udp::endpoint(from, 0));
  }
  const asio::ip::udp::endpoint to(asio::ip::address_v4::loopback(), port);
  const auto start = Clock::now();
  const auto total = static_cast<std::uint64_t>(rate * seconds);
  for (std::uint64_t i = 0; i < total; ++i) {
    std::this_thread::sleep_until(start + std::chrono::nanoseconds(static_cast<std::int64_t>(1e9 * i / rate)));
    boost::system::error_code ignored;
    sockets[i % sources].send_to(asio::buffer(apps[i % apps.size()]), to, 0, ignored);
  }
  const double took = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("flood: %llu datagrams in %.1f s\n", static_cast<unsigned long long>(total), took);
  std::fflush(stdout);
  std::_Exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  const double rate = argc > 1 ? std::atof(argv[1]) : 20000;
  const double seconds = argc > 2 ? std::atof(argv[2]) : 10;
  const std::size_t sources = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 2000;
  const std::size_t keys = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 8192;
  log::set_level(log::Level::err);

  const auto id_a = must(p2p::Identity::generate(kDifficulty), "identity");
  const auto id_b = must(p2p::Identity::generate(kDifficulty), "identity");
  std::vector<Bytes> apps;
  const p2p::message::NetworkId network_id{0, 0, 0, kNetworkId};
  for (std::size_t i = 0; i < keys; ++i) {
    const auto found = p2p::search_pow(kDifficulty, 1);
    const p2p::Identity stranger(found.sk, found.pow);
    apps.push_back(must(p2p::message::AppMessage::build(network_id, stranger.pk(), stranger.pow(),
                                                        p2p::crypto::SessionKey{}, id_a.pk(), Bytes(100, 0x45)),
                        "APP"));
  }
  int port_pipe[2];
  if (pipe(port_pipe) != 0) return 1;
  const pid_t child = fork();
  if (child == 0) flood(apps, sources, rate, seconds, port_pipe[0]);

  util::Runtime runtime_a(2);
  util::Runtime runtime_rest(2);
  super_peer::SuperPeerOptions options;
  options.network_id = kNetworkId;
  options.min_pow_difficulty = kDifficulty;
  const auto super_peer =
      must(super_peer::SuperPeer::start(runtime_rest.executor(), must(p2p::Identity::generate(kDifficulty), "identity"),
                                        options),
           "super peer");
  const auto sink = std::make_shared<DelaySink>();
  const auto a = bind_node(runtime_a, id_a, super_peer->url(), sink);
  a.inner()->set_members(std::make_shared<const p2p::node::MemberKeys>(p2p::node::MemberKeys{id_b.pk()}));
  const auto b = bind_node(runtime_rest, id_b, super_peer->url(), std::make_shared<DelaySink>());
  const auto to_a = must(b.send_handle(id_a.pk()), "send handle");
  const auto send_timed = [&] {
    Bytes message(sizeof(std::int64_t));
    const std::int64_t sent = now_ns();
    std::memcpy(message.data(), &sent, sizeof sent);
    return runtime_rest.block_on(node::send(*to_a, message)).has_value();
  };
  // Until B reaches A directly.
  const auto deadline = Clock::now() + kSetUpLimit;
  while (sink->take().empty() || !to_a->state()->best_direct_path) {
    if (Clock::now() > deadline) throw std::runtime_error("B did not reach A directly");
    send_timed();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  sink->take();

  const std::uint16_t port = a.inner()->port();
  const double cpu_start = process_cpu();
  const auto start = Clock::now();
  if (write(port_pipe[1], &port, sizeof port) != sizeof port) return 1;
  std::size_t sent = 0;
  for (; Clock::now() - start < std::chrono::duration<double>(seconds); ++sent) {
    send_timed();
    std::this_thread::sleep_for(kMessageGap);
  }
  const double cpu = process_cpu() - cpu_start;
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  int status = 0;
  waitpid(child, &status, 0);
  std::this_thread::sleep_for(std::chrono::seconds(2));  // stragglers
  auto delays = sink->take();
  std::ranges::sort(delays);
  const auto at = [&](double q) {
    return delays.empty() ? 0.0 : delays[std::min(delays.size() - 1, static_cast<std::size_t>(q * delays.size()))];
  };
  double sum = 0;
  for (const double d : delays) sum += d;
  std::printf("flood %.0f/s for %.0f s from %zu addresses, %zu keys\n", rate, seconds, sources, keys);
  std::printf("member messages: %zu of %zu arrived; delay avg %.0f us, median %.0f, p99 %.0f, max %.0f\n",
              delays.size(), sent, delays.empty() ? 0.0 : sum / static_cast<double>(delays.size()), at(0.5), at(0.99),
              delays.empty() ? 0.0 : delays.back());
  std::printf("processor time of A (with B and the super peer): %.1f %% of a core\n", 100 * cpu / elapsed);
  runtime_a.shutdown();
  runtime_rest.shutdown();
  return 0;
}
