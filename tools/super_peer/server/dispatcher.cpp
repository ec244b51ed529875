#include "tools/super_peer/server/dispatcher.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "p2p_core/identity/pow.hpp"
#include "p2p_core/message/control_messages.hpp"
#include "p2p_core/message/layout.hpp"
#include "p2p_core/node/clock.hpp"
#include "tools/super_peer/server/tcp_link.hpp"
#include "util/log/log.hpp"

namespace valdori::super_peer {
namespace {

namespace msg = p2p::message;

spdlog::logger& lg() { return log::logger("valdori_super_peer"); }

// A message that breaks the protocol.
std::vector<Outgoing> drop_malformed(const Route& arrival, std::string_view reason) {
  VLOG_WARN_LIMITED(lg(), "Dropped message from {}: {}", describe(arrival), reason);
  return {};
}

// A well-formed message the super peer cannot deliver; normal while nodes come and go.
std::vector<Outgoing> drop_undeliverable(const Route& arrival, std::string_view reason) {
  VLOG_DEBUG(lg(), "Dropped message from {}: {}", describe(arrival), reason);
  return {};
}

msg::NetworkId network_id_bytes(std::uint32_t network_id) {
  msg::NetworkId bytes;
  msg::store_big_endian(bytes.data(), network_id);
  return bytes;
}

p2p::net::SocketAddr source_of(const Route& arrival) {
  if (const auto* source = std::get_if<p2p::net::SocketAddr>(&arrival)) return *source;
  return std::get<std::shared_ptr<TcpLink>>(arrival)->remote();
}

std::string_view verdict_text(p2p::peer::HelloVerdict verdict) {
  switch (verdict) {
    case p2p::peer::HelloVerdict::TooOld: return "too old";
    case p2p::peer::HelloVerdict::InFuture: return "from the future";
    case p2p::peer::HelloVerdict::Replayed: return "a replay";
    case p2p::peer::HelloVerdict::Busy: return "refused for now: the times of too many recent senders are kept";
    case p2p::peer::HelloVerdict::Fresh: break;
  }
  return "fresh";
}

// The rate limiters count on the monotonic clock, so that a step of the wall clock opens or closes
// none; the replay window forgets by it as well as by the wall clock.
std::uint64_t millis_of(Clock::time_point now) {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count());
}

std::optional<p2p::crypto::SessionKey> tx_key(const RegisteredNode& node) {
  if (!node.arms_messages || !node.session_keys) return std::nullopt;
  return node.session_keys->tx;
}

}  // namespace

boost::system::result<std::unique_ptr<Dispatcher>, p2p::crypto::error::Error> Dispatcher::create(
    const p2p::Identity& identity, const SuperPeerOptions& options) {
  auto own = p2p::peer::AgreementKeys::from_identity(identity);
  if (!own) return own.error();
  return std::unique_ptr<Dispatcher>(new Dispatcher(identity, options, *own));
}

Dispatcher::Dispatcher(const p2p::Identity& identity, const SuperPeerOptions& options,
                       const p2p::peer::AgreementKeys& own)
    : identity_(identity),
      network_id_(network_id_bytes(options.network_id)),
      min_pow_difficulty_(options.min_pow_difficulty),
      unite_enabled_(options.unite_enabled),
      arm_messages_(options.arm_messages),
      agreements_(own, kCachedAgreements),
      agreement_limiter_(kAgreementIntervalMs, kAgreementBurst, kCountedSources),
      hello_times_(kHelloSendersPerNode * std::max<std::size_t>(options.max_nodes, 1)),
      registry_(std::max<std::size_t>(options.max_nodes, 1), 2 * options.hello_interval),
      registration_limiter_(static_cast<std::uint64_t>(options.registration_interval.count()),
                            options.registration_burst, kCountedSources) {}

std::vector<Outgoing> Dispatcher::dispatch(std::span<std::uint8_t> message, const Route& arrival,
                                           Clock::time_point now) {
  auto parsed = msg::LongHeader::parse(message);
  if (!parsed) return drop_malformed(arrival, msg::error::display(parsed.error()));
  const msg::LongHeader& header = parsed->header;
  if (header.network_id() != network_id_)
    return drop_malformed(arrival, fmt::format("network id {} is not ours",
                                               msg::load_big_endian<std::uint32_t>(header.network_id().data())));
  if (header.message_type().value > msg::MessageType::UNITE.value)
    return drop_malformed(arrival, fmt::format("unknown message type {}", header.message_type().value));
  if (!p2p::pow_meets_difficulty(header.sender(), header.pow(), min_pow_difficulty_))
    return drop_malformed(
        arrival, fmt::format("proof of work of {} is below difficulty {}", header.sender(), min_pow_difficulty_));
  if (header.recipient() != identity_.pk()) return relay(message, header, arrival, now);
  if (header.message_type() != msg::MessageType::HELLO)
    return drop_malformed(arrival, fmt::format("message type {} is not for a super peer", header.message_type().value));
  return on_hello(*parsed, arrival, now);
}

std::vector<Outgoing> Dispatcher::on_hello(const msg::ParsedLongHeader& parsed, const Route& arrival,
                                           Clock::time_point now) {
  const msg::LongHeader& header = parsed.header;
  const p2p::PubKey sender = header.sender();
  if (arm_messages_ && !header.armed()) return drop_malformed(arrival, fmt::format("unarmed HELLO from {}", sender));
  RegisteredNode* known = registry_.find(sender);
  std::optional<p2p::crypto::SessionKeys> keys = known ? known->session_keys : std::nullopt;
  if (header.armed() && !keys) {
    auto agreed = agreement_with(sender, arrival, now);
    if (!agreed) return {};
    if (!*agreed)
      return drop_malformed(
          arrival, fmt::format("no session keys with {}: {}", sender, p2p::crypto::error::display(agreed->error())));
    keys = **agreed;
  }
  const auto rx_key = header.armed() ? std::optional(keys->rx) : std::nullopt;
  const auto reply_key = header.armed() ? std::optional(keys->tx) : std::nullopt;

  auto hello = msg::HelloSuperPeerMessage::parse(parsed.body, header, rx_key);
  if (!hello) return drop_malformed(arrival, msg::error::display(hello.error()));
  // Nothing of a HELLO is kept unless it is fresh: a replayed one changes no route. The time of
  // a sender that cannot register now is not taken, so that strangers take no room in the replay
  // window beyond the registry's.
  if (!known && !may_register(sender, arrival, now)) return {};
  const auto verdict =
      hello_times_.accept(sender, hello->time(), p2p::node::system_time_ms(), millis_of(now), kHelloMaxAge.count());
  if (verdict == p2p::peer::HelloVerdict::Busy) {
    // A call site of its own: no flood of replays or junk hides that newcomers are refused.
    VLOG_WARN_LIMITED(lg(), "Dropped HELLO of {} from {}: {}", sender, describe(arrival), verdict_text(verdict));
    return {};
  }
  if (verdict != p2p::peer::HelloVerdict::Fresh)
    return drop_malformed(arrival, fmt::format("HELLO of {} is {}", sender, verdict_text(verdict)));
  auto ack = msg::AckMessage::build(network_id_, identity_.pk(), identity_.pow(), reply_key, sender, hello->time());
  if (!ack) return drop_malformed(arrival, msg::error::display(ack.error()));

  RegisteredNode& node = registry_.record(sender, now);
  node.pow = header.pow();
  node.session_keys = keys;
  node.arms_messages = header.armed();
  node.candidates.assign(hello->endpoints().begin(), hello->endpoints().end());
  if (const auto* udp_source = std::get_if<p2p::net::SocketAddr>(&arrival)) {
    node.observe_udp_source(*udp_source, hello->time(), now);
  } else {
    node.observe_link(std::get<std::shared_ptr<TcpLink>>(arrival), hello->time(), now);
  }
  VLOG_TRACE(lg(), "HELLO from {} via {}", sender, describe(arrival));
  std::vector<Outgoing> out;
  out.push_back({std::move(*ack), arrival});
  return out;
}

std::vector<Outgoing> Dispatcher::relay(std::span<const std::uint8_t> message, const msg::LongHeader& header,
                                        const Route& arrival, Clock::time_point now) {
  if (header.hop_count() >= kMaxHops)
    return drop_malformed(arrival, fmt::format("relayed {} times already", header.hop_count()));
  if (arm_messages_ && !header.armed()) return drop_malformed(arrival, "unarmed message to relay");
  const p2p::PubKey sender = header.sender();
  const p2p::PubKey recipient = header.recipient();
  const RegisteredNode* from = registry_.find(sender);
  if (!from) return drop_undeliverable(arrival, fmt::format("sender {} is not registered", sender));
  const RegisteredNode* to = registry_.find(recipient);
  if (!to) return drop_undeliverable(arrival, fmt::format("recipient {} is not registered", recipient));
  auto route = to->route(now);
  if (!route) return drop_undeliverable(arrival, fmt::format("no way to reach {}", recipient));

  std::vector<Outgoing> out;
  Outgoing& forwarded = out.emplace_back(Outgoing{{message.begin(), message.end()}, *route});
  ++forwarded.message[msg::kHopCountOffset];
  VLOG_TRACE(lg(), "Relay from {} to {} via {}", sender, recipient, describe(*route));
  if (unite_enabled_ && unite_limiter_.allow(sender, recipient, now))
    introduce(sender, *from, recipient, *to, now, out);
  return out;
}

void Dispatcher::introduce(const p2p::PubKey& a, const RegisteredNode& node_a, const p2p::PubKey& b,
                           const RegisteredNode& node_b, Clock::time_point now, std::vector<Outgoing>& out) const {
  const auto tell = [&](const p2p::PubKey& to, const RegisteredNode& to_node, const p2p::PubKey& about,
                        const RegisteredNode& about_node) {
    const auto endpoints = about_node.endpoints();
    const auto route = to_node.route(now);
    if (endpoints.empty() || !route) return;
    auto unite =
        msg::UniteMessage::build(network_id_, identity_.pk(), identity_.pow(), tx_key(to_node), to, about, endpoints);
    if (!unite) {
      VLOG_WARN_LIMITED(lg(), "Could not build UNITE for {}: {}", to, msg::error::display(unite.error()));
      return;
    }
    VLOG_TRACE(lg(), "UNITE to {} about {}", to, about);
    out.push_back({std::move(*unite), *route});
  };
  tell(a, node_a, b, node_b);
  tell(b, node_b, a, node_a);
}

std::optional<p2p::peer::Agreement> Dispatcher::agreement_with(const p2p::PubKey& pk, const Route& arrival,
                                                               Clock::time_point now) {
  if (auto cached = agreements_.find(pk)) return cached;
  if (!agreement_limiter_.allow(source_of(arrival).address(), millis_of(now))) {
    VLOG_WARN_LIMITED(lg(), "Dropped HELLO of {} from {}: too many new keys from that address", pk, describe(arrival));
    return std::nullopt;
  }
  return agreements_.agree(pk);
}

bool Dispatcher::may_register(const p2p::PubKey& pk, const Route& arrival, Clock::time_point now) {
  if (!registry_.has_room(now)) {
    VLOG_WARN_LIMITED(lg(), "Refused to register {} from {}: all registered nodes are live", pk, describe(arrival));
    return false;
  }
  if (!registration_limiter_.allow(source_of(arrival).address(), millis_of(now))) {
    VLOG_WARN_LIMITED(lg(), "Refused to register {} from {}: too many registrations from that address", pk,
                      describe(arrival));
    return false;
  }
  return true;
}

}  // namespace valdori::super_peer
