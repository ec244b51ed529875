// Malformed and undeliverable messages are dropped without disturbing anything else.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "p2p_core/identity/pow.hpp"
#include "p2p_core/message/layout.hpp"
#include "tests/tools/super_peer/harness.hpp"
#include "tools/super_peer/server/dispatcher.hpp"

namespace valdori::super_peer::testing {
namespace {

namespace msg = p2p::message;

const Bytes kShortPayload{1, 2, 3, 4};

// A proof of work that `pk` does not meet.
p2p::Pow weak_pow(const p2p::PubKey& pk) {
  std::int32_t value = 0;
  while (p2p::pow_meets_difficulty(pk, p2p::Pow(value), kTestDifficulty)) ++value;
  return p2p::Pow(value);
}

// A proof of work that `pk` meets.
p2p::Pow strong_pow(const p2p::PubKey& pk) {
  std::int32_t value = 0;
  while (!p2p::pow_meets_difficulty(pk, p2p::Pow(value), kTestDifficulty)) ++value;
  return p2p::Pow(value);
}

void set_sender(Bytes& message, const p2p::PubKey& pk, p2p::Pow pow) {
  std::ranges::copy(pk.bytes(), message.begin() + msg::kSenderOffset);
  msg::store_big_endian(message.data() + msg::kPowOffset, static_cast<std::uint32_t>(pow.value()));
}

Bytes changed(Bytes message, const std::function<void(Bytes&)>& change) {
  change(message);
  return message;
}

using Build = std::function<Bytes(const NodeSide& node, const p2p::SuperPeerUrl& url)>;

// The node's HELLO, armed or plain, with one change.
Build hello_with(std::function<void(Bytes&)> change, bool armed = true) {
  return [change, armed](const NodeSide& node, const p2p::SuperPeerUrl&) {
    return changed(node.hello(1, {}, armed), change);
  };
}

struct MalformedCase {
  std::string name;
  Build build;
  bool fits_a_frame = true;  // 1 to 1200 bytes
};

std::vector<MalformedCase> malformed_cases() {
  const p2p::PubKey small_order(p2p::PubKey::Bytes{1});  // the neutral element
  return {
      {"empty", [](auto&, auto&) { return Bytes{}; }, false},
      {"three bytes",
       [](auto&, auto&) {
         return Bytes{0x1e, 0x3f, 0x50};
       }},
      {"header cut short", hello_with([](Bytes& m) { m.resize(msg::kLongHeaderLen - 1); })},
      {"wrong magic", hello_with([](Bytes& m) { m[0] ^= 0xff; })},
      {"unknown flag", hello_with([](Bytes& m) { m[msg::kFlagsOffset] |= 0x80; })},
      {"other network", hello_with([](Bytes& m) { m[msg::kNetworkIdOffset + 3] ^= 1; })},
      {"unknown type", hello_with([](Bytes& m) { m[msg::kTypeOffset] = 9; })},
      {"proof of work too low",
       [](const NodeSide& n, auto&) {
         return changed(n.hello(1, {}), [&](Bytes& m) { set_sender(m, n.pk(), weak_pow(n.pk())); });
       }},
      {"sender key without key agreement",
       hello_with([small_order](Bytes& m) { set_sender(m, small_order, strong_pow(small_order)); })},
      {"APP for the super peer", [](const NodeSide& n, auto& url) { return n.app_to(url.pk(), kShortPayload); }},
      {"altered ciphertext", hello_with([](Bytes& m) { m.back() ^= 1; })},
      {"plain HELLO without endpoint list", hello_with([](Bytes& m) { m.resize(msg::kLongHeaderLen + 8); }, false)},
      {"plain HELLO counting more endpoints than it holds", hello_with([](Bytes& m) { m.back() = 5; }, false)},
      {"longer than the maximum", hello_with([](Bytes& m) { m.resize(msg::kDefaultMaxMessageLen + 1); }, false), false},
  };
}

TEST_F(SuperPeerTest, DropsMalformedDatagramsAndKeepsAnswering) {
  start();
  UdpNode node(io_, url());
  for (const auto& c : malformed_cases()) {
    SCOPED_TRACE(c.name);
    node.send(c.build(node, url()));
    // Anything sent in answer would arrive before the ACK.
    greet(node);
  }
}

TEST_F(SuperPeerTest, DropsMalformedFramesAndKeepsTheLink) {
  start();
  TcpNode node(io_, url());
  greet(node);
  node.send_raw(Bytes{0, 0, 0, 0});  // an empty frame is well framed; its message is too short for a header
  greet(node);
  for (const auto& c : malformed_cases()) {
    if (!c.fits_a_frame) continue;
    SCOPED_TRACE(c.name);
    node.send(c.build(node, url()));
    greet(node);
  }
}

TEST_F(SuperPeerTest, BrokenFramingClosesOnlyThatLink) {
  start();
  const std::vector<std::pair<std::string, Bytes>> cases{
      {"frame longer than the maximum", {0, 0, 0x10, 0, 0x1e, 0x3f}},
  };
  TcpNode bystander(io_, url());
  greet(bystander);
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    TcpNode node(io_, url());
    greet(node);
    node.send_raw(bytes);
    EXPECT_TRUE(node.closed_by_super_peer());
  }
  greet(bystander);
}

TEST_F(SuperPeerTest, DropsRelaysThatLoopOrComeFromUnregisteredNodes) {
  SuperPeerOptions options = default_options();
  options.unite_enabled = false;
  start(options);
  UdpNode a(io_, url());
  UdpNode b(io_, url());
  UdpNode stranger(io_, url());
  greet(a);
  greet(b);
  const std::vector<std::pair<std::string, std::function<void()>>> cases{
      {"hop limit reached",
       [&] {
         a.send(
             changed(a.app_to(b.pk(), Bytes{0xee}), [](Bytes& m) { m[msg::kHopCountOffset] = Dispatcher::kMaxHops; }));
       }},
      {"unregistered sender", [&] { stranger.send(stranger.app_to(b.pk(), Bytes{0xee})); }},
  };
  std::uint8_t round = 0;
  for (const auto& [name, send_bad] : cases) {
    SCOPED_TRACE(name);
    send_bad();
    expect_relayed(a, b, Bytes{++round});
  }
}

}  // namespace
}  // namespace valdori::super_peer::testing
