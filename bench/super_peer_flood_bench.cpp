// The super peer under a flood of datagrams on loopback: the processor time one datagram costs
// it, for junk and for HELLOs of keys it has never registered ("strangers") whose bodies do not
// authenticate. Those come from identities with a valid proof of work, which an attacker pays
// for once: one identity again and again, or more identities than any cache of key agreements
// holds, all from one source address.
//
// The super peer runs in this process on a runtime of one thread; the flood comes from the main
// thread at a fixed rate. The super peer's time is the process's processor time less the main
// thread's. After each flood a registered node greets and waits for its ACK, so every datagram
// before it has been read. Datagrams the kernel dropped for a full receive buffer (all of the
// machine's, from /proc/net/snmp) are reported beside.
//
// Usage: bench_super_peer_flood [RATE] [SECONDS] [KEYS]   (defaults 10000 datagrams/s, 3 s, 8192)
#include <sys/resource.h>
#include <time.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "p2p_core/message/control_messages.hpp"
#include "p2p_core/message/endpoints.hpp"
#include "p2p_core/node/clock.hpp"
#include "p2p_core/peer/session_keys.hpp"
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
constexpr std::size_t kJunkLen = 120;

template <class Result>
auto must(Result&& result, const char* what) {
  if (!result) throw std::runtime_error(std::string("set-up failed: ") + what);
  return *std::forward<Result>(result);
}

double seconds_of(const timespec& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9; }

double process_cpu() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto of = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
  };
  return of(usage.ru_utime) + of(usage.ru_stime);
}

double thread_cpu() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return seconds_of(t);
}

// UDP datagrams the kernel dropped for a full receive buffer, machine-wide.
long receive_buffer_errors() {
  std::ifstream snmp("/proc/net/snmp");
  std::string names;
  std::string values;
  while (std::getline(snmp, names) && std::getline(snmp, values)) {
    if (!names.starts_with("Udp:")) continue;
    std::istringstream name_words(names);
    std::istringstream value_words(values);
    std::string name;
    std::string value;
    while (name_words >> name && value_words >> value) {
      if (name == "RcvbufErrors") return std::stol(value);
    }
  }
  return -1;
}

// A node's side towards the super peer.
struct Sender {
  p2p::Identity id;
  p2p::peer::AgreementKeys keys;
  p2p::crypto::SessionKeys to_super_peer;
};

Sender sender(const p2p::SuperPeerUrl& url) {
  auto id = must(p2p::Identity::generate(kDifficulty), "identity");
  const auto keys = must(p2p::peer::AgreementKeys::from_identity(id), "agreement keys");
  const auto session = must(p2p::peer::session_keys_for(keys, url.pk()), "session keys");
  return {std::move(id), keys, *session};
}

Bytes hello(const p2p::SuperPeerUrl& url, const Sender& from, const p2p::crypto::SessionKey& key) {
  return must(
      p2p::message::HelloSuperPeerMessage::build(url.network_id_bytes(), from.id.pk(), from.id.pow(), key, url.pk(),
                                                 p2p::node::system_time_ms(), p2p::message::encode_endpoints({})),
      "HELLO");
}

// A HELLO of `from` armed under a key the super peer does not share with it.
Bytes stranger_hello(const p2p::SuperPeerUrl& url, const Sender& from) {
  return hello(url, from, from.to_super_peer.rx);
}

struct Flood {
  const char* name;
  std::vector<Bytes> datagrams;  // sent in turn
};

class Bench {
 public:
  Bench(double rate, double seconds) : rate_(rate), seconds_(seconds) {
    log::set_level(std::getenv("BENCH_LOG") ? log::Level::trace : log::Level::err);
    super_peer::SuperPeerOptions options;
    options.network_id = kNetworkId;
    options.min_pow_difficulty = kDifficulty;
    super_peer_ = must(super_peer::SuperPeer::start(runtime_.executor(),
                                                    must(p2p::Identity::generate(kDifficulty), "identity"), options),
                       "super peer");
    to_super_peer_ = {asio::ip::make_address(url().host()), url().port()};
  }

  const p2p::SuperPeerUrl& url() const { return super_peer_->url(); }

  void run(const Flood& flood) {
    asio::ip::udp::socket socket(io_, {asio::ip::address_v4::loopback(), 0});
    const auto total = static_cast<std::size_t>(rate_ * seconds_);
    const long dropped_before = receive_buffer_errors();
    const double process_before = process_cpu();
    const double own_before = thread_cpu();
    const auto start = Clock::now();
    // In batches of a millisecond's worth.
    const auto batch = std::max<std::size_t>(1, static_cast<std::size_t>(rate_ / 1000));
    for (std::size_t sent = 0; sent < total;) {
      for (std::size_t i = 0; i < batch && sent < total; ++i, ++sent) {
        const Bytes& datagram = flood.datagrams[sent % flood.datagrams.size()];
        boost::system::error_code ignored;
        socket.send_to(asio::buffer(datagram), to_super_peer_, 0, ignored);
      }
      std::this_thread::sleep_until(start + std::chrono::microseconds(static_cast<long>(1e6 * sent / rate_)));
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    drain();
    const double super_peer = (process_cpu() - process_before) - (thread_cpu() - own_before);
    std::printf("%-36s %8zu datagrams in %.2f s: %6.2f us each, %5.1f %% of a core; %ld dropped by the kernel\n",
                flood.name, total, wall, 1e6 * super_peer / static_cast<double>(total), 100 * super_peer / wall,
                receive_buffer_errors() - dropped_before);
  }

 private:
  // A node greets; its ACK comes after every datagram sent before.
  void drain() {
    const Sender node = sender(url());
    asio::ip::udp::socket socket(io_, {asio::ip::address_v4::loopback(), 0});
    socket.send_to(asio::buffer(hello(url(), node, node.to_super_peer.tx)), to_super_peer_);
    Bytes answer(2048);
    socket.receive(asio::buffer(answer));
  }

  double rate_;
  double seconds_;
  util::Runtime runtime_{1};
  std::unique_ptr<super_peer::SuperPeer> super_peer_;
  asio::io_context io_;
  asio::ip::udp::endpoint to_super_peer_;
};

}  // namespace

int main(int argc, char** argv) {
  const double rate = argc > 1 ? std::strtod(argv[1], nullptr) : 10'000;
  const double seconds = argc > 2 ? std::strtod(argv[2], nullptr) : 3;
  const std::size_t keys = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 8192;
  Bench bench(rate, seconds);

  std::mt19937 random(7);
  Flood junk{"junk", {Bytes(kJunkLen)}};
  for (auto& byte : junk.datagrams.front()) byte = static_cast<std::uint8_t>(random());
  Flood one_key{"stranger HELLOs, one key", {stranger_hello(bench.url(), sender(bench.url()))}};
  Flood many_keys{"stranger HELLOs, many keys", {}};
  for (std::size_t i = 0; i < keys; ++i)
    many_keys.datagrams.push_back(stranger_hello(bench.url(), sender(bench.url())));
  std::printf("%.0f datagrams/s for %.1f s; %zu keys\n", rate, seconds, keys);
  for (const Flood* flood : {&junk, &one_key, &many_keys, &junk}) bench.run(*flood);
  return 0;
}
