// The dispatch of received overlay messages: long and short headers, every message type, from a
// known node peer, the super peer, a stranger and the node itself, armed and unarmed, over UDP
// (direct or from the super peer's address) and over the super peer's TCP link.
//
// Input: one byte choosing the node state (bit 0: the node arms its messages; bit 1: it
// processes UNITEs; bit 2: its peers list is full once it knows its one node peer), then up to
// kMaxRecords records of [control byte][2-byte length][bytes], dispatched in turn on a fresh
// node that already knows one node peer, so that sequences (HELLO, then APP or ACK) reach
// state. The control byte:
//   bits 0-1  0: the bytes are the datagram as received
//             1: the bytes are a message type and a plain body, sealed here into a long-header
//                message from the sender of bits 2-3 with that sender's real session key
//             2: the bytes are a payload, sealed here into a short-header message of the known peer
//             3: as 1, with the known peer's key put before the body (a UNITE about it)
//   bits 2-3  sender: the known node peer, the super peer, a stranger, the node itself
//   bits 4-5  arrival: UDP from the peer's address, UDP from the super peer's address, a frame
//             of the super peer's TCP link, UDP from an IPv6 address
//   bit 6     seal without arming, whatever the node does
//   bit 7     a relay's hop count of 1
// Sealing lets the fuzzer reach the body parsers and handlers behind authentication, which it
// could never pass by guessing tags.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address.hpp>

#include "fuzz/fuzz_input.hpp"
#include "overlay_node/node/dispatch.hpp"
#include "p2p_core/identity/identity.hpp"
#include "p2p_core/identity/pow.hpp"
#include "p2p_core/message/control_messages.hpp"
#include "p2p_core/message/layout.hpp"
#include "p2p_core/message/long_message.hpp"
#include "p2p_core/message/short_header.hpp"
#include "p2p_core/node/message_sink.hpp"
#include "p2p_core/node/node_inner.hpp"
#include "p2p_core/node/opts_builder.hpp"
#include "p2p_core/node/udp_socket.hpp"
#include "p2p_core/peer/session_keys.hpp"
#include "p2p_core/peer/super_peer.hpp"

namespace valdori::fuzz {
namespace {

using namespace p2p;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kDifficulty = 4;
constexpr std::uint64_t kNow = 1'700'000'000'000;  // ms
constexpr std::size_t kMaxRecords = 8;
constexpr message::NetworkId kNetworkId{0, 0, 0, 7};

template <class Result>
auto must(Result&& result) {
  if (!result) std::abort();  // the harness itself is broken
  return *std::forward<Result>(result);
}

net::SocketAddr addr(const char* ip, std::uint16_t port) { return {boost::asio::ip::make_address(ip), port}; }

// A fixed identity: the seed's key with the first pow that meets kDifficulty.
Identity fixed_identity(std::uint8_t seed) {
  SecKey::Bytes bytes{};
  bytes.fill(seed);
  const SecKey sk(bytes);
  std::int32_t pow = 0;
  while (!pow_meets_difficulty(sk.public_key(), Pow(pow), kDifficulty)) ++pow;
  return Identity(sk, Pow(pow));
}

class NullSink : public p2p::node::MessageSink {
 public:
  void accept(const PubKey&, std::vector<std::uint8_t>) override {}
};

enum Sender : std::uint8_t { kPeer, kSuperPeer, kStranger, kSelf };

std::array<Identity, 4> fixed_identities() {
  return {fixed_identity(1), fixed_identity(2), fixed_identity(3), fixed_identity(4)};
}

struct World {
  World() {
    for (std::size_t i = 0; i < kSelf; ++i) {
      const auto keys = must(peer::AgreementKeys::from_identity(ids[i]));
      tx_keys[i] = must(peer::session_keys_for(keys, ids[kSelf].pk()))->tx;
    }
  }

  std::shared_ptr<p2p::node::NodeInner> make_node(std::uint8_t state) const {
    const bool armed = (state & 1) != 0;
    auto opts = must(p2p::node::NodeOptsBuilder()
                         .id(ids[kSelf])
                         .arm_messages(armed)
                         .max_peers((state & 4) != 0 ? 2 : 0)  // full with the super peer and the known peer
                         .min_pow_difficulty(kDifficulty)
                         .hello_timeout(30'000)
                         .hello_max_age(60'000)
                         .process_unites((state & 2) != 0)
                         .super_peers({super_peer_url})
                         .message_sink(std::make_shared<NullSink>())
                         .build());
    const std::optional<peer::AgreementKeys> agreement = armed ? own_keys : std::nullopt;
    auto super_peer =
        std::make_shared<peer::SuperPeer>(super_peer_url, must(peer::session_keys_for(agreement, super_peer_url.pk())),
                                          peer::ResolvedAddrs{addr("127.0.0.1", super_peer_url.port())});
    p2p::node::UdpBindings bindings{binding};
    super_peer->add_paths_for_resolved_addrs(bindings);
    return std::make_shared<p2p::node::NodeInner>(p2p::node::NodeInit{.opts = std::move(opts),
                                                                      .network_id = kNetworkId,
                                                                      .agreement_keys = agreement,
                                                                      .super_peers = {std::move(super_peer)},
                                                                      .bindings = bindings,
                                                                      .port = binding->local_addr().port(),
                                                                      .token = token,
                                                                      .executor = io.get_executor(),
                                                                      .clock = [] { return kNow * 1000; },
                                                                      .wall_clock = [] { return kNow * 1000; }});
  }

  std::optional<crypto::SessionKey> tx_key(Sender sender, bool armed) const {
    if (!armed || sender == kSelf) return std::nullopt;
    return tx_keys[sender];
  }

  mutable boost::asio::io_context io;  // never run: sockets are registered, nothing waits
  util::CancellationToken token;
  std::array<Identity, 4> ids = fixed_identities();  // indexed by Sender
  std::optional<peer::AgreementKeys> own_keys = must(peer::AgreementKeys::from_identity(ids[kSelf]));
  std::array<crypto::SessionKey, kSelf> tx_keys{};  // what each sender arms its messages to the node with
  SuperPeerUrl super_peer_url =
      must(SuperPeerUrl::try_from("udp://127.0.0.1:9?publicKey=" + ids[kSuperPeer].pk().to_string() + "&networkId=7"));
  // Replies are only queued, never sent: the socket gives the binding an address.
  std::shared_ptr<p2p::node::UdpBinding> binding = must(p2p::node::UdpBinding::create(
      token.child_token(), must(p2p::node::new_udp_reuseport(io.get_executor(), addr("127.0.0.1", 0)))));
};

const World& world() {
  static const World instance;
  return instance;
}

Bytes seal_long(const World& w, Sender sender, const std::optional<crypto::SessionKey>& key,
                std::span<const std::uint8_t> bytes, bool about_peer) {
  if (bytes.empty()) return {};
  Bytes body(bytes.begin() + 1, bytes.end());
  if (about_peer) body.insert(body.begin(), w.ids[kPeer].pk().bytes().begin(), w.ids[kPeer].pk().bytes().end());
  const message::LongHeaderFields fields{.network_id = kNetworkId,
                                         .sender = w.ids[sender].pk(),
                                         .pow = w.ids[sender].pow(),
                                         .recipient = w.ids[kSelf].pk(),
                                         .type = message::MessageType{bytes[0]}};
  auto sealed = message::build_long_message(fields, key, body.size(),
                                            [&](std::span<std::uint8_t> out) { std::ranges::copy(body, out.begin()); });
  return sealed ? std::move(*sealed) : Bytes{};
}

}  // namespace
}  // namespace valdori::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace valdori::fuzz;
  namespace message = valdori::p2p::message;
  const World& w = world();
  FuzzInput input(data, size);
  const std::uint8_t state = input.byte();
  const bool armed = (state & 1) != 0;
  const auto node = w.make_node(state);

  // The known peer, admitted as its first HELLO would admit it.
  Bytes hello = must(message::HelloNodePeerMessage::build(kNetworkId, w.ids[kPeer].pk(), w.ids[kPeer].pow(),
                                                          w.tx_key(kPeer, armed), w.ids[kSelf].pk(), kNow,
                                                          message::ShortId::random()));
  const auto header = must(message::LongHeader::parse(hello)).header;
  const auto peer =
      must(node->store_node_peer(must(node->node_peer_candidate(header, boost::asio::ip::address_v4::loopback()))));

  for (std::size_t i = 0; i < kMaxRecords && !input.empty(); ++i) {
    const std::uint8_t control = input.byte();
    const auto bytes = input.record();
    const auto sender = static_cast<Sender>(control >> 2 & 3);
    const auto key = (control & 0x40) != 0 ? std::nullopt : w.tx_key(sender, armed);
    Bytes datagram;
    switch (control & 3) {
      case 1:
      case 3: datagram = seal_long(w, sender, key, bytes, (control & 3) == 3); break;
      case 2: {
        const auto sealed = message::ShortHeader::build(
            peer->rx_short_id(), (control & 0x40) != 0 ? std::nullopt : w.tx_key(kPeer, armed), bytes);
        if (sealed) datagram = *sealed;
        break;
      }
      default: datagram.assign(bytes.begin(), bytes.end());
    }
    if ((control & 0x80) != 0 && datagram.size() > message::kHopCountOffset) datagram[message::kHopCountOffset] = 1;

    std::optional<valdori::p2p::PubKey> link;
    const valdori::p2p::node::UdpBinding* binding = w.binding.get();
    valdori::p2p::net::SocketAddr source = addr("127.0.0.1", 5000);
    switch (control >> 4 & 3) {
      case 1: source = addr("127.0.0.1", w.super_peer_url.port()); break;
      case 2:
        link = w.super_peer_url.pk();
        binding = nullptr;
        break;
      case 3: source = addr("2001:db8::5", 5000); break;
      default: break;
    }
    (void)valdori::node::on_packet(*node, datagram, source, binding, link);
  }
  return 0;
}
