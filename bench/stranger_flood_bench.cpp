// What one datagram of a flood costs a node: received from a real socket on loopback and
// dispatched, junk beside messages from strangers (keys the node has not stored) whose bodies
// never authenticate. Each iteration sends one datagram, receives it and dispatches it in the
// benchmark's thread, so every kind pays the same two system calls. Strangers come from one
// source address:
// - "repeating": 64 identities with a valid proof of work, each sending again and again;
// - "fresh keys": a new key for every datagram (the node takes any proof of work here, as one
//   that accepts cheap identities would).
// Beside them, one key agreement alone (key conversion and X25519 with a valid key): what each
// agreement costs that the limits on strangers let through.
#include <cstdint>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

#include <benchmark/benchmark.h>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include "overlay_node/node/dispatch.hpp"
#include "overlay_node/node/node.hpp"
#include "p2p_core/message/app_message.hpp"
#include "p2p_core/message/layout.hpp"
#include "p2p_core/node/opts_builder.hpp"
#include "p2p_core/peer/session_keys.hpp"
#include "util/log/log.hpp"
#include "util/runtime/runtime.hpp"

namespace {

namespace asio = boost::asio;
using namespace valdori;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kDifficulty = 4;
constexpr std::size_t kRepeatingStrangers = 64;

template <class Result>
auto must(Result&& result) {
  if (!result) throw std::runtime_error("set-up failed");
  return *std::forward<Result>(result);
}

class NullSink : public p2p::node::MessageSink {
 public:
  void accept(const p2p::PubKey&, std::vector<std::uint8_t>) override {}
};

// A node without sockets of its own, and a socket pair on loopback that carries the flood.
class Flood {
 public:
  Flood()
      : runtime_(1),
        self_(must(p2p::Identity::generate(kDifficulty))),
        node_(bind()),
        receiver_(io_, {asio::ip::address_v4::loopback(), 0}),
        sender_(io_, {asio::ip::address_v4::loopback(), 0}) {
    sender_.connect(receiver_.local_endpoint());
    buffer_.resize(node_.inner()->max_message_len());
  }

  // An APP to the node from `from` under a key it does not share with the node.
  Bytes forged_app(const p2p::Identity& from) {
    p2p::crypto::SessionKey wrong_key;
    for (auto& byte : wrong_key) byte = static_cast<std::uint8_t>(random_());
    return must(
        p2p::message::AppMessage::build(network_id(), from.pk(), from.pow(), wrong_key, self_.pk(), Bytes(100, 0x45)));
  }

  // One datagram through the socket pair and the node's dispatch.
  void pass(const Bytes& datagram) {
    sender_.send(asio::buffer(datagram));
    asio::ip::udp::endpoint source;
    const std::size_t n = receiver_.receive_from(asio::buffer(buffer_), source);
    auto result = node::on_packet(*node_.inner(), std::span(buffer_.data(), n), source, nullptr, std::nullopt);
    benchmark::DoNotOptimize(result);
  }

  std::mt19937_64& random() { return random_; }

 private:
  p2p::message::NetworkId network_id() const { return node_.inner()->network_id(); }

  node::Node bind() {
    const auto super_peer = must(p2p::Identity::generate(kDifficulty));
    const auto url = must(p2p::SuperPeerUrl::try_from("udp://127.0.0.1:9?publicKey=" + super_peer.pk().to_string() +
                                                      "&networkId=7&tcpPort=9"));
    auto opts = must(p2p::node::NodeOptsBuilder()
                         .id(self_)
                         .udp_addrs({asio::ip::address_v4::loopback()})
                         .udp_sockets(0)
                         .min_pow_difficulty(0)
                         .super_peers({url})
                         .message_sink(std::make_shared<NullSink>())
                         .build());
    return must(runtime_.block_on(node::Node::bind(runtime_.executor(), std::move(opts))));
  }

  util::Runtime runtime_;
  p2p::Identity self_;
  node::Node node_;
  asio::io_context io_;
  asio::ip::udp::socket receiver_;
  asio::ip::udp::socket sender_;
  Bytes buffer_;
  std::mt19937_64 random_{7};
};

void BM_Junk(benchmark::State& state) {
  Flood flood;
  Bytes junk(144);
  for (auto& byte : junk) byte = static_cast<std::uint8_t>(flood.random()());
  for (auto _ : state) flood.pass(junk);
}

void BM_RepeatingStrangers(benchmark::State& state) {
  Flood flood;
  std::vector<Bytes> datagrams;
  for (std::size_t i = 0; i < kRepeatingStrangers; ++i)
    datagrams.push_back(flood.forged_app(must(p2p::Identity::generate(kDifficulty))));
  std::size_t next = 0;
  for (auto _ : state) flood.pass(datagrams[next++ % datagrams.size()]);
}

void BM_FreshKeys(benchmark::State& state) {
  Flood flood;
  Bytes datagram = flood.forged_app(must(p2p::Identity::generate(kDifficulty)));
  for (auto _ : state) {
    for (std::size_t i = 0; i < 32; i += 8) {
      const std::uint64_t bits = flood.random()();
      std::memcpy(datagram.data() + p2p::message::kSenderOffset + i, &bits, sizeof bits);
    }
    flood.pass(datagram);
  }
}

void BM_KeyAgreement(benchmark::State& state) {
  const auto own = must(p2p::peer::AgreementKeys::from_identity(must(p2p::Identity::generate(kDifficulty))));
  std::vector<p2p::PubKey> keys;
  for (std::size_t i = 0; i < kRepeatingStrangers; ++i) keys.push_back(must(p2p::Identity::generate(kDifficulty)).pk());
  std::size_t next = 0;
  for (auto _ : state) benchmark::DoNotOptimize(p2p::peer::agree(own, keys[next++ % keys.size()]));
}

BENCHMARK(BM_Junk);
BENCHMARK(BM_RepeatingStrangers);
BENCHMARK(BM_FreshKeys);
BENCHMARK(BM_KeyAgreement);

}  // namespace

int main(int argc, char** argv) {
  valdori::log::set_level(valdori::log::Level::err);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
