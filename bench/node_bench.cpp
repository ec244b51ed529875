// APP messages per second and round-trip time between two overlay nodes on loopback, direct and
// relayed through the in-process super peer, beside two plain UDP sockets doing the same (the
// limit). Arguments are payload sizes. Messages are armed, as the agent sends them.
//
// Throughput keeps at most kWindow messages in flight (sent, not yet delivered), so that the
// receiver is never overrun and the rate is one the path sustains without loss. A round trip is
// one message each way, each awaited at the receiver before the next is sent. Nodes, super peers
// and plain sockets share one runtime of two threads: with more, the figures are dominated by
// how long idle threads take to wake, and vary between runs by a factor of two.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/experimental/concurrent_channel.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "overlay_node/node/node.hpp"
#include "overlay_node/node/send.hpp"
#include "p2p_core/node/opts_builder.hpp"
#include "tools/super_peer/server/super_peer.hpp"
#include "util/log/log.hpp"
#include "util/runtime/race.hpp"
#include "util/runtime/runtime.hpp"

namespace {

namespace asio = boost::asio;
using namespace valdori;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using Signal = asio::experimental::concurrent_channel<void(boost::system::error_code)>;

constexpr std::uint8_t kDifficulty = 4;
constexpr std::uint32_t kNetworkId = 7;
constexpr std::uint64_t kMessagesPerBatch = 2000;
constexpr std::uint64_t kWindow = 64;
constexpr int kRoundTripsPerBatch = 200;
constexpr std::chrono::seconds kSetUpLimit{30};
// A batch that has not finished by then has lost a message: the figure would be meaningless.
constexpr std::chrono::seconds kBatchLimit{30};

template <class Result>
auto must(Result&& result) {
  if (!result) throw std::runtime_error("set-up failed");
  return *std::forward<Result>(result);
}

// Counts deliveries and signals each one; a waiter takes one signal per delivery.
class Receiver {
 public:
  explicit Receiver(const asio::any_io_executor& executor) : signal_(executor, 4096) {}

  std::uint64_t count() const { return count_.load(std::memory_order_acquire); }
  void delivered() {
    count_.fetch_add(1, std::memory_order_release);
    signal_.try_send(boost::system::error_code());
  }
  asio::awaitable<void> next() { co_await signal_.async_receive(asio::use_awaitable); }
  void drain() {
    while (signal_.try_receive([](boost::system::error_code) {})) {
    }
  }

 private:
  std::atomic<std::uint64_t> count_{0};
  Signal signal_;
};

class ReceiverSink : public p2p::node::MessageSink {
 public:
  explicit ReceiverSink(std::shared_ptr<Receiver> receiver) : receiver_(std::move(receiver)) {}
  void accept(const p2p::PubKey&, std::vector<std::uint8_t>) override { receiver_->delivered(); }

 private:
  std::shared_ptr<Receiver> receiver_;
};

// One way of moving a message from A to B and from B to A.
class Pair {
 public:
  virtual ~Pair() = default;
  virtual asio::awaitable<void> send_a_to_b(const Bytes& data) = 0;
  virtual asio::awaitable<void> send_b_to_a(const Bytes& data) = 0;
  virtual Receiver& at_a() = 0;
  virtual Receiver& at_b() = 0;
  // Still on the paths the benchmark is about.
  virtual bool ready() const { return true; }
};

class NodePair : public Pair {
 public:
  NodePair(util::Runtime& runtime, const p2p::SuperPeerUrl& super_peer, bool expect_direct)
      : receiver_a_(std::make_shared<Receiver>(runtime.executor())),
        receiver_b_(std::make_shared<Receiver>(runtime.executor())),
        id_a_(must(p2p::Identity::generate(kDifficulty))),
        id_b_(must(p2p::Identity::generate(kDifficulty))),
        a_(bind(runtime, id_a_, super_peer, receiver_a_)),
        b_(bind(runtime, id_b_, super_peer, receiver_b_)),
        to_b_(must(a_.send_handle(id_b_.pk()))),
        to_a_(must(b_.send_handle(id_a_.pk()))),
        expect_direct_(expect_direct) {
    // Until messages arrive both ways and the paths are the expected ones.
    const Bytes hello(100, 0);
    const auto deadline = Clock::now() + kSetUpLimit;
    while (receiver_a_->count() == 0 || receiver_b_->count() == 0 || !ready()) {
      if (Clock::now() > deadline) throw std::runtime_error("the nodes did not reach the expected paths");
      runtime.block_on(warm_up(hello));
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  // Direct paths with short headers both ways, or none.
  bool ready() const override { return goes_direct(*to_b_) == expect_direct_ && goes_direct(*to_a_) == expect_direct_; }

  asio::awaitable<void> send_a_to_b(const Bytes& data) override { co_await send(*to_b_, data); }
  asio::awaitable<void> send_b_to_a(const Bytes& data) override { co_await send(*to_a_, data); }
  Receiver& at_a() override { return *receiver_a_; }
  Receiver& at_b() override { return *receiver_b_; }

 private:
  static node::Node bind(util::Runtime& runtime, const p2p::Identity& id, const p2p::SuperPeerUrl& super_peer,
                         std::shared_ptr<Receiver> receiver) {
    auto opts = must(p2p::node::NodeOptsBuilder()
                         .id(id)
                         .udp_addrs({asio::ip::address_v4::loopback()})
                         .udp_port(0)
                         .min_pow_difficulty(kDifficulty)
                         .housekeeping_interval(200)
                         .super_peers({super_peer})
                         .message_sink(std::make_shared<ReceiverSink>(std::move(receiver)))
                         .build());
    return must(runtime.block_on(node::Node::bind(runtime.executor(), std::move(opts))));
  }

  static bool goes_direct(const p2p::node::SendHandle& handle) {
    const auto state = handle.state();
    return state->best_direct_path && state->tx_short_id;
  }

  static asio::awaitable<void> send(const p2p::node::SendHandle& handle, const Bytes& data) {
    const auto sent = co_await node::send(handle, data);
    if (!sent) throw std::runtime_error("send failed");
  }

  asio::awaitable<void> warm_up(const Bytes& data) {
    (void)co_await node::send(*to_b_, data);
    (void)co_await node::send(*to_a_, data);
  }

  std::shared_ptr<Receiver> receiver_a_;
  std::shared_ptr<Receiver> receiver_b_;
  p2p::Identity id_a_;
  p2p::Identity id_b_;
  node::Node a_;
  node::Node b_;
  std::shared_ptr<p2p::node::SendHandle> to_b_;
  std::shared_ptr<p2p::node::SendHandle> to_a_;
  bool expect_direct_;
};

// Two plain sockets, each read by a task that counts what arrives.
class UdpPair : public Pair {
 public:
  explicit UdpPair(util::Runtime& runtime)
      : a_(runtime.executor(), {asio::ip::address_v4::loopback(), 0}),
        b_(runtime.executor(), {asio::ip::address_v4::loopback(), 0}),
        receiver_a_(runtime.executor()),
        receiver_b_(runtime.executor()) {
    asio::co_spawn(asio::make_strand(runtime.executor()), read(a_, receiver_a_), asio::detached);
    asio::co_spawn(asio::make_strand(runtime.executor()), read(b_, receiver_b_), asio::detached);
  }
  asio::awaitable<void> send_a_to_b(const Bytes& data) override {
    co_await a_.async_send_to(asio::buffer(data), b_.local_endpoint(), asio::use_awaitable);
  }
  asio::awaitable<void> send_b_to_a(const Bytes& data) override {
    co_await b_.async_send_to(asio::buffer(data), a_.local_endpoint(), asio::use_awaitable);
  }
  Receiver& at_a() override { return receiver_a_; }
  Receiver& at_b() override { return receiver_b_; }

 private:
  static asio::awaitable<void> read(asio::ip::udp::socket& socket, Receiver& receiver) {
    Bytes buffer(p2p::message::kDefaultMaxMessageLen + 1);
    for (;;) {
      asio::ip::udp::endpoint source;
      const auto [ec, n] =
          co_await socket.async_receive_from(asio::buffer(buffer), source, asio::as_tuple(asio::use_awaitable));
      if (ec == asio::error::operation_aborted || ec == asio::error::bad_descriptor) co_return;
      if (!ec) receiver.delivered();
    }
  }

  asio::ip::udp::socket a_;
  asio::ip::udp::socket b_;
  Receiver receiver_a_;
  Receiver receiver_b_;
};

struct World {
  util::Runtime runtime{2};
  std::unique_ptr<super_peer::SuperPeer> introducing;  // sends UNITEs: its nodes go direct
  std::unique_ptr<super_peer::SuperPeer> relaying;     // sends none: its nodes stay relayed
  std::optional<UdpPair> udp;
  std::optional<NodePair> direct;
  std::optional<NodePair> relayed;

  // The tasks stop before the pairs they use go.
  ~World() { runtime.shutdown(); }

  World() {
    super_peer::SuperPeerOptions options;
    options.network_id = kNetworkId;
    options.min_pow_difficulty = kDifficulty;
    introducing =
        must(super_peer::SuperPeer::start(runtime.executor(), must(p2p::Identity::generate(kDifficulty)), options));
    options.unite_enabled = false;
    relaying =
        must(super_peer::SuperPeer::start(runtime.executor(), must(p2p::Identity::generate(kDifficulty)), options));
    udp.emplace(runtime);
    direct.emplace(runtime, introducing->url(), true);
    relayed.emplace(runtime, relaying->url(), false);
  }
};

World* world = nullptr;

Pair& pair_of(int kind) {
  switch (kind) {
    case 0: return *world->udp;
    case 1: return *world->direct;
    default: return *world->relayed;
  }
}

const char* name_of(int kind) { return kind == 0 ? "plain UDP" : kind == 1 ? "direct" : "relayed"; }

// Every delivery is awaited once: the sender waits for one whenever the window is full, and for
// the rest at the end.
asio::awaitable<void> send_batch(Pair& pair, const Bytes& data) {
  Receiver& receiver = pair.at_b();
  std::uint64_t delivered = 0;
  for (std::uint64_t sent = 0; sent < kMessagesPerBatch; ++sent) {
    for (; sent - delivered >= kWindow; ++delivered) co_await receiver.next();
    co_await pair.send_a_to_b(data);
  }
  for (; delivered < kMessagesPerBatch; ++delivered) co_await receiver.next();
}

asio::awaitable<void> round_trips(Pair& pair, const Bytes& data) {
  for (int i = 0; i < kRoundTripsPerBatch; ++i) {
    co_await pair.send_a_to_b(data);
    co_await pair.at_b().next();
    co_await pair.send_b_to_a(data);
    co_await pair.at_a().next();
  }
}

// Runs one batch; false when it ran out of time or the pair left its paths.
bool run_batch(const Pair& pair, asio::awaitable<void> batch) {
  return world->runtime.block_on(util::with_timeout(std::move(batch), kBatchLimit)) && pair.ready();
}

void BM_Throughput(benchmark::State& state) {
  Pair& pair = pair_of(static_cast<int>(state.range(0)));
  const Bytes data(static_cast<std::size_t>(state.range(1)), 0x45);
  state.SetLabel(name_of(static_cast<int>(state.range(0))));
  pair.at_b().drain();
  for (auto _ : state) {
    if (!run_batch(pair, send_batch(pair, data))) {
      state.SkipWithError("lost a message or left the expected paths");
      break;
    }
  }
  state.counters["msgs_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations() * kMessagesPerBatch), benchmark::Counter::kIsRate);
}

void BM_RoundTrip(benchmark::State& state) {
  Pair& pair = pair_of(static_cast<int>(state.range(0)));
  const Bytes data(static_cast<std::size_t>(state.range(1)), 0x45);
  state.SetLabel(name_of(static_cast<int>(state.range(0))));
  pair.at_a().drain();
  pair.at_b().drain();
  for (auto _ : state) {
    if (!run_batch(pair, round_trips(pair, data))) {
      state.SkipWithError("lost a message or left the expected paths");
      break;
    }
  }
  state.counters["rtt"] =
      benchmark::Counter(static_cast<double>(state.iterations() * kRoundTripsPerBatch),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
}

// Kinds: 0 plain UDP, 1 direct, 2 relayed; sizes: a small packet and a full one.
BENCHMARK(BM_Throughput)->ArgsProduct({{0, 1, 2}, {64, 1000}})->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundTrip)->ArgsProduct({{0, 1, 2}, {64, 1000}})->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  log::set_level(log::Level::warn);
  World instance;
  world = &instance;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  world = nullptr;
}
