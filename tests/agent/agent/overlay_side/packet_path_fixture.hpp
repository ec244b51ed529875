// A bench for the packet path: an agent core over a socket-pair tunnel, hand-made firewall tries
// and packets, the path's tasks run directly, and a log capture to read what they said.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "agent/agent/firewall/tries.hpp"
#include "agent/agent/inner/agent_inner.hpp"
#include "tests/support/agent/agent_testbed.hpp"
#include "tests/support/log_capture.hpp"
#include "util/runtime/race.hpp"
#include "util/runtime/task_set.hpp"

namespace valdori::agent::testing {

using util::net::Ipv4Addr;
using util::net::Ipv4Net;

inline constexpr std::string_view kNetifTarget = "valdori_agent::agent::netif";
inline constexpr std::string_view kNodeTarget = "valdori_agent::agent::node";
inline constexpr std::uint8_t kTcp = 6;
inline constexpr std::uint8_t kUdp = 17;

inline Ipv4Addr ip(const char* text) { return *util::net::parse_ipv4_addr(text); }
inline Ipv4Net net(const char* text) { return *Ipv4Net::parse(text); }

// An IPv4 packet (no options) from `src` to `dst` around `payload`; the fields the path does
// not read stay zero.
inline Bytes ipv4_packet(const char* src, const char* dst, std::uint8_t protocol,
                         std::span<const std::uint8_t> payload) {
  Bytes packet(20);
  packet[0] = 0x45;
  const std::size_t total = packet.size() + payload.size();
  packet[2] = static_cast<std::uint8_t>(total >> 8);
  packet[3] = static_cast<std::uint8_t>(total);
  packet[8] = 64;
  packet[9] = protocol;
  const auto s = ip(src).to_bytes();
  const auto d = ip(dst).to_bytes();
  std::copy(s.begin(), s.end(), packet.begin() + 12);
  std::copy(d.begin(), d.end(), packet.begin() + 16);
  packet.insert(packet.end(), payload.begin(), payload.end());
  return packet;
}

// A UDP header (checksum zero: none) and its payload.
inline Bytes udp_datagram(std::uint16_t src_port, std::uint16_t dst_port, std::span<const std::uint8_t> payload) {
  const std::size_t length = 8 + payload.size();
  Bytes datagram{static_cast<std::uint8_t>(src_port >> 8),
                 static_cast<std::uint8_t>(src_port),
                 static_cast<std::uint8_t>(dst_port >> 8),
                 static_cast<std::uint8_t>(dst_port),
                 static_cast<std::uint8_t>(length >> 8),
                 static_cast<std::uint8_t>(length),
                 0,
                 0};
  datagram.insert(datagram.end(), payload.begin(), payload.end());
  return datagram;
}

inline Bytes udp_packet(const char* src, std::uint16_t src_port, const char* dst, std::uint16_t dst_port,
                        std::span<const std::uint8_t> payload) {
  return ipv4_packet(src, dst, kUdp, udp_datagram(src_port, dst_port, payload));
}

// A UDP packet of exactly `size` bytes.
inline Bytes udp_packet_of_size(const char* src, const char* dst, std::size_t size, bool dont_fragment = false) {
  Bytes packet = udp_packet(src, 40000, dst, 9000, Bytes(size - 28, 0x5A));
  if (dont_fragment) packet[6] = 0x40;
  return packet;
}

// The payload that marks the overlay's own control traffic.
inline const Bytes kControlMarker{0x1E, 0x3F, 0x50, 0x01, 0, 0, 0, 0};

// A two-level trie from (outer network, inner network, value) triples.
template <class V>
std::shared_ptr<const util::net::Ipv4PrefixMap<util::net::Ipv4PrefixMap<V>>> two_level_trie(
    const std::vector<std::tuple<const char*, const char*, V>>& entries) {
  std::map<Ipv4Net, typename util::net::Ipv4PrefixMap<V>::Builder> inner;
  for (const auto& [outer_net, inner_net, value] : entries)
    inner[net(outer_net).trunc()].try_emplace(net(inner_net), value);
  typename util::net::Ipv4PrefixMap<util::net::Ipv4PrefixMap<V>>::Builder outer;
  for (auto& [outer_net, builder] : inner) outer.try_emplace(outer_net, std::move(builder).build());
  return std::make_shared<const util::net::Ipv4PrefixMap<util::net::Ipv4PrefixMap<V>>>(std::move(outer).build());
}

// Destination network, source network, peer.
using TxRoutes = std::vector<std::tuple<const char*, const char*, std::shared_ptr<p2p::node::SendHandle>>>;
// Source network, destination network, peer.
using RxRoutes = std::vector<std::tuple<const char*, const char*, p2p::PubKey>>;

inline p2p::PubKey new_key() { return p2p::SecKey::generate().public_key(); }

class PacketPathTest : public ::testing::Test {
 protected:
  ~PacketPathTest() override { stop(); }

  util::Runtime& runtime() { return bed_.runtime(); }

  // An agent core as start makes it, over `tun` unless told otherwise.
  std::shared_ptr<AgentInner> make_inner(AgentConfig config, bool with_tun = true) {
    PlatformDependent platform;
    if (with_tun) platform.tun = tun_.device();
    auto inner = bed_.make_inner(std::move(config), std::move(platform));
    inners_.push_back(inner);
    return inner;
  }
  std::shared_ptr<AgentInner> make_inner() { return make_inner(bed_.config()); }

  void spawn(boost::asio::awaitable<void> task) { tasks_.spawn(std::move(task)); }

  // Cancels every core's token and waits for the spawned tasks, which must all have returned.
  void stop() {
    for (const auto& inner : inners_) inner->token.cancel();
    const auto outcomes = runtime().block_on(join_all());
    for (const auto& outcome : outcomes) EXPECT_TRUE(outcome.returned()) << outcome.message;
  }

  std::shared_ptr<p2p::node::SendHandle> send_handle(const AgentInner& inner, const p2p::PubKey& peer) {
    auto handle = inner.node->send_handle(peer);
    EXPECT_TRUE(handle);
    return handle ? *handle : nullptr;
  }

  // The next item of `queue`; none when nothing comes within `limit`.
  template <class T>
  std::optional<T> pop(PacketQueue<T>& queue, std::chrono::milliseconds limit = kWaitLimit) {
    auto popped = runtime().block_on(util::with_timeout(queue.pop(), limit));
    if (!popped || !*popped) return std::nullopt;
    return std::move(**popped);
  }

  bool wait_log(log::Level level, const std::string& fragment) {
    return wait_until([&] { return logs_.has_containing(level, fragment); });
  }
  std::size_t count_logs(log::Level level, const std::string& fragment) const {
    std::size_t n = 0;
    for (const auto& text : logs_.texts(level)) n += text.find(fragment) != std::string::npos ? 1 : 0;
    return n;
  }
  // The events of `target` from the start of the capture up to the first one that contains
  // `until`, which is waited for.
  std::vector<valdori::testing::CapturedEvent> events_before(std::string_view target, const std::string& until) {
    std::vector<valdori::testing::CapturedEvent> before;
    EXPECT_TRUE(wait_until([&] {
      before.clear();
      for (auto& event : logs_.events()) {
        if (event.text.find(until) != std::string::npos) return true;
        if (event.target == target) before.push_back(std::move(event));
      }
      return false;
    })) << "no event with: "
        << until;
    return before;
  }

  valdori::testing::LogCapture logs_;
  AgentTestbed bed_;
  TunPair tun_{bed_.executor()};

 private:
  boost::asio::awaitable<std::vector<util::TaskOutcome<void>>> join_all() {
    std::vector<util::TaskOutcome<void>> outcomes;
    for (;;) {
      auto next = co_await util::with_timeout(tasks_.join_next(), kWaitLimit);
      if (!next || !*next) break;
      outcomes.push_back(std::move(**next));
    }
    co_return outcomes;
  }

  std::vector<std::shared_ptr<AgentInner>> inners_;
  util::TaskSet<void> tasks_{bed_.executor()};
};

}  // namespace valdori::agent::testing
