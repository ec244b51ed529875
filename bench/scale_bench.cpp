// One overlay node with many peers in its tables: the resident memory each peer adds, the
// duration of one housekeeping pass and of a status-style walk of the peer table.
//
// The node and an in-process super peer run on loopback, as an agent's node does. Each simulated
// peer is one UDP socket that registers with the super peer and sends the node one APP message
// through it: the node admits the peer, and the super peer introduces the two, so the node also
// holds a direct path to every peer and greets it there. The peers never answer, so every pass
// finds them with application traffic, greets each over its direct path and then, the path not
// being reachable, through the super peer: the most work a pass does per peer.
//
// Usage: bench_scale [PEERS] [PASSES]   (defaults 1000 and 5)
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/ip/udp.hpp>

#include "agent/agent/status/status.hpp"
#include "overlay_node/node/housekeeping.hpp"
#include "overlay_node/node/node.hpp"
#include "p2p_core/message/app_message.hpp"
#include "p2p_core/message/control_messages.hpp"
#include "p2p_core/message/endpoints.hpp"
#include "p2p_core/node/clock.hpp"
#include "p2p_core/node/opts_builder.hpp"
#include "p2p_core/peer/session_keys.hpp"
#include "tools/super_peer/server/super_peer.hpp"
#include "util/log/log.hpp"
#include "util/runtime/runtime.hpp"

namespace {

namespace asio = boost::asio;
using namespace valdori;
using Clock = std::chrono::steady_clock;
using Millis = std::chrono::duration<double, std::milli>;

constexpr std::uint8_t kDifficulty = 4;
constexpr std::uint32_t kNetworkId = 7;
constexpr std::chrono::seconds kAdmitLimit{60};

template <class Result>
auto must(Result&& result, const char* what) {
  if (!result) throw std::runtime_error(std::string("set-up failed: ") + what);
  return *std::forward<Result>(result);
}

// Resident set size of this process, in KiB.
long resident_kib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("VmRSS:")) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

class DiscardingSink : public p2p::node::MessageSink {
 public:
  void accept(const p2p::PubKey&, std::vector<std::uint8_t>) override {}
};

// A peer that only speaks: its messages are built before the baseline is taken.
struct SimulatedPeer {
  p2p::PubKey pk;
  asio::ip::udp::socket socket;
  std::vector<std::uint8_t> hello;  // to the super peer
  std::vector<std::uint8_t> app;    // to the node, relayed
};

SimulatedPeer simulated_peer(asio::io_context& io, const p2p::SuperPeerUrl& super_peer, const p2p::PubKey& node) {
  const auto id = must(p2p::Identity::generate(kDifficulty), "identity");
  const auto own = must(p2p::peer::AgreementKeys::from_identity(id), "agreement keys");
  const auto to_super_peer = must(p2p::peer::session_keys_for(own, super_peer.pk()), "keys");
  const auto to_node = must(p2p::peer::session_keys_for(own, node), "keys");
  const std::uint64_t now = p2p::node::system_time_ms();
  SimulatedPeer peer{id.pk(), asio::ip::udp::socket(io, {asio::ip::address_v4::loopback(), 0}), {}, {}};
  peer.hello = must(
      p2p::message::HelloSuperPeerMessage::build(super_peer.network_id_bytes(), id.pk(), id.pow(), to_super_peer->tx,
                                                 super_peer.pk(), now, p2p::message::encode_endpoints({})),
      "HELLO");
  const std::vector<std::uint8_t> packet(100, 0x45);
  peer.app =
      must(p2p::message::AppMessage::build(super_peer.network_id_bytes(), id.pk(), id.pow(), to_node->tx, node, packet),
           "APP");
  return peer;
}

template <class Step>
std::vector<double> timed(int times, Step step) {
  std::vector<double> durations;
  for (int i = 0; i < times; ++i) {
    const auto start = Clock::now();
    step();
    durations.push_back(Millis(Clock::now() - start).count());
  }
  std::ranges::sort(durations);
  return durations;
}

void report(const char* what, const std::vector<double>& durations) {
  std::printf("%s: median %.2f ms, least %.2f ms, most %.2f ms (%zu runs)\n", what, durations[durations.size() / 2],
              durations.front(), durations.back(), durations.size());
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t peers = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000;
  const int passes = argc > 2 ? std::atoi(argv[2]) : 5;
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);
  log::set_level(std::getenv("BENCH_LOG") ? log::Level::trace : log::Level::err);

  util::Runtime runtime{2};
  super_peer::SuperPeerOptions options;
  options.network_id = kNetworkId;
  options.min_pow_difficulty = kDifficulty;
  // Every simulated peer registers from 127.0.0.1, which a real super peer would rate-limit.
  options.registration_burst = static_cast<std::uint32_t>(peers) + 1;
  const auto super_peer = must(
      super_peer::SuperPeer::start(runtime.executor(), must(p2p::Identity::generate(kDifficulty), "identity"), options),
      "super peer");
  const auto url = super_peer->url();
  // Passes run only when the bench runs them.
  auto opts = must(p2p::node::NodeOptsBuilder()
                       .id(must(p2p::Identity::generate(kDifficulty), "identity"))
                       .udp_addrs({asio::ip::address_v4::loopback()})
                       .udp_port(0)
                       .min_pow_difficulty(kDifficulty)
                       .housekeeping_interval(3'600'000)
                       .super_peers({url})
                       .message_sink(std::make_shared<DiscardingSink>())
                       .build(),
                   "node options");
  auto node = must(runtime.block_on(node::Node::bind(runtime.executor(), std::move(opts))), "node");
  const auto inner = node.inner();
  const auto pass = [&] { must(runtime.block_on(valdori::node::housekeeping(inner)), "pass"); };

  asio::io_context io;
  std::vector<SimulatedPeer> simulated;
  simulated.reserve(peers);
  for (std::size_t i = 0; i < peers; ++i) simulated.push_back(simulated_peer(io, url, inner->pk()));
  // The peers are members of the node's network, as the agent tells its node: strangers would
  // get a quarter of the peers table and key agreements rate-limited by source address.
  auto members = std::make_shared<p2p::node::MemberKeys>();
  for (const auto& peer : simulated) members->insert(peer.pk);
  inner->set_members(std::move(members));
  const asio::ip::udp::endpoint super_peer_udp(asio::ip::make_address(url.host()), url.port());
  pass();  // the node is registered with the super peer
  const long baseline = resident_kib();

  // In small groups, so that no socket buffer on the way overflows; again for the peers that
  // are still missing (a repeated HELLO or APP changes nothing).
  const auto send_all = [&](std::vector<std::uint8_t> SimulatedPeer::*message) {
    for (std::size_t i = 0; i < simulated.size(); ++i) {
      auto& peer = simulated[i];
      if (message == &SimulatedPeer::app && inner->peers().find(peer.pk)) continue;
      peer.socket.send_to(asio::buffer(peer.*message), super_peer_udp);
      if (i % 50 == 49) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  };
  const auto deadline = Clock::now() + kAdmitLimit;
  while (inner->peers().size() < peers + 1) {
    if (Clock::now() > deadline)
      throw std::runtime_error("the node admitted " + std::to_string(inner->peers().size() - 1) + " peers only");
    send_all(&SimulatedPeer::hello);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    send_all(&SimulatedPeer::app);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  pass();  // every peer gets its short id and its first greetings
  const long admitted = resident_kib();

  std::printf("peers in the node's table: %zu\n", inner->peers().size() - 1);
  std::printf("resident: %.1f MiB before the peers, %.1f MiB with them: %.2f KiB per peer\n", baseline / 1024.0,
              admitted / 1024.0, static_cast<double>(admitted - baseline) / static_cast<double>(peers));
  report("housekeeping pass", timed(passes, pass));
  report("status walk of the peer table", timed(passes, [&] {
           const std::uint64_t now = inner->current_time();
           std::size_t paths = 0;
           std::vector<agent::status::PathStatus> statuses;
           for (const auto& [key, entry] : inner->peers().snapshot()) {
             const auto peer = p2p::peer::as_node_peer(entry);
             if (!peer) continue;
             const std::string text = key.to_string();
             for (const auto& [path_key, path] : *peer->paths().snapshot()) {
               statuses.push_back(agent::status::PathStatus::of(*path->inner(), 0));
               paths += path_key.to_string().size() + text.size();
             }
             paths += peer->is_reachable(now, inner->opts().hello_timeout) ? 1 : 0;
           }
           if (paths == 0 && peers > 0) throw std::runtime_error("no paths walked");
         }));
  std::printf("resident after the passes: %.1f MiB\n", resident_kib() / 1024.0);
  runtime.shutdown();
}
