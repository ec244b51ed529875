#include "p2p_core/node/node_inner.hpp"

#include <algorithm>
#include <limits>

#include "p2p_core/identity/pow.hpp"
#include "p2p_core/message/arming.hpp"
#include "p2p_core/message/endpoints.hpp"
#include "util/mem/buffer_pool.hpp"

namespace valdori::p2p::node {
namespace {

// An encoded endpoint is at most this long: family, IPv6 address, port.
constexpr std::size_t kMaxEncodedEndpointLen = 1 + 16 + 2;
// What an armed HELLO to a super peer needs besides its endpoints: header, nonce and tag, time,
// endpoint count.
constexpr std::size_t kHelloWithoutEndpointsLen = message::kLongHeaderLen + message::kArmOverhead + 8 + 1;

std::size_t endpoints_fitting(std::size_t max_message_len) {
  const std::size_t room =
      max_message_len > kHelloWithoutEndpointsLen ? max_message_len - kHelloWithoutEndpointsLen : 0;
  return std::min(message::kMaxEndpoints, room / kMaxEncodedEndpointLen);
}

// Room for the HELLO times of every peer the table can hold and as many again for peers that
// left it within the last minute, so that a full window refuses only newcomers of a flood.
std::size_t hello_senders(std::uint64_t max_peers) {
  constexpr std::uint64_t kLargest = std::numeric_limits<std::uint32_t>::max();
  return std::max<std::size_t>(kHelloSenders, 2 * std::min(max_peers, kLargest));
}

}  // namespace

NodeInner::NodeInner(NodeInit init)
    : opts_(std::move(init.opts)),
      network_id_(init.network_id),
      agreement_keys_(init.agreement_keys),
      token_(std::move(init.token)),
      executor_(std::move(init.executor)),
      clock_(std::move(init.clock)),
      wall_clock_(std::move(init.wall_clock)),
      cached_time_(clock_() / 1000),
      peers_(opts_.max_peers),
      bindings_(std::move(init.bindings)),
      port_(init.port),
      agreement_limiter_(kAgreementIntervalMs, kAgreementBurst, kAgreementSources),
      agreement_budget_(kAgreementBudgetIntervalUs, kAgreementBudgetBurst),
      hello_times_(hello_senders(opts_.max_peers)) {
  if (agreement_keys_) agreements_.emplace(*agreement_keys_, kCachedAgreements);
  if (!init.super_peers.empty()) peers_.set_default_route(init.super_peers.front()->key());
  for (auto& super_peer : init.super_peers) {
    std::erase_if(super_peers_, [&](const auto& known) { return known->key() == super_peer->key(); });
    peers_.insert_or_assign(super_peer->key(), super_peer);
    super_peers_.push_back(std::move(super_peer));
  }
}

std::uint64_t NodeInner::current_time() {
  const std::uint64_t now = clock_() / 1000;
  cached_time_.store(now, std::memory_order_relaxed);
  return now;
}

SharedUdpSocket NodeInner::udp_socket_for(const net::SocketAddr& local) const {
  const auto bindings = udp_bindings();
  const auto found = std::ranges::find_if(*bindings, [&](const auto& binding) {
    return binding->local_addr() == local && !binding->token().is_cancelled();
  });
  return found == bindings->end() ? nullptr : (*found)->socket();
}

void NodeInner::remove_udp_binding(const UdpBinding& binding) {
  bindings_.update([&](UdpBindings& bindings) {
    return std::erase_if(bindings, [&](const auto& known) { return known.get() == &binding; }) > 0;
  });
}

std::vector<std::uint8_t> NodeInner::my_endpoint_candidates(std::span<const boost::asio::ip::address> addrs) const {
  std::vector<net::SocketAddr> endpoints;
  const std::size_t limit = endpoints_fitting(opts_.max_message_len);
  for (const auto& addr : addrs) {
    if (endpoints.size() == limit) break;
    const net::SocketAddr endpoint(addr, port());
    if (message::is_usable_endpoint(endpoint)) endpoints.push_back(endpoint);
  }
  return message::encode_endpoints(endpoints);
}

void NodeInner::add_to_recv_buf(const PubKey& sender, std::span<const std::uint8_t> payload) {
  opts_.message_sink->accept(sender, util::mem::take_buffer(payload));
}

boost::system::result<std::shared_ptr<peer::NodePeer>, error::Error> NodeInner::node_peer_candidate(
    const message::LongHeader& header, const boost::asio::ip::address& source) {
  const PubKey sender = header.sender();
  if (sender == pk()) return error::SendToSelf{};
  if (auto room = make_room_for(sender, false); !room) return room.error();
  if (!pow_meets_difficulty(sender, header.pow(), opts_.min_pow_difficulty)) return error::PowInvalid{};
  auto keys = session_keys_with(sender, source);
  if (!keys) return keys.error();
  return std::make_shared<peer::NodePeer>(sender, header.pow(), std::move(*keys), cached_time(),
                                          peers_.default_route());
}

boost::system::result<std::optional<crypto::SessionKeys>, error::Error> NodeInner::session_keys_with(
    const PubKey& sender, const boost::asio::ip::address& source) {
  if (!agreements_) return std::optional<crypto::SessionKeys>();
  auto agreed = agreements_->find(sender);
  if (!agreed) {
    if (!is_member(sender)) {
      switch (agreement_limiter_.allow(source, cached_time(), agreement_budget_)) {
        case net::Admission::SourceLimited: return error::KeyAgreementsLimited{source};
        case net::Admission::BudgetSpent: return error::KeyAgreementBudgetSpent{source};
        case net::Admission::Allowed: break;
      }
    }
    agreed = agreements_->agree(sender);
  }
  const auto keys = peer::keys_of(*agreed);
  if (!keys) return error::PeerError{keys.error()};
  return std::optional(*keys);
}

boost::system::result<std::shared_ptr<peer::NodePeer>, error::Error> NodeInner::store_node_peer(
    const std::shared_ptr<peer::NodePeer>& candidate) {
  if (const auto known = peers_.find_node_peer(candidate->key())) return known;
  if (auto room = make_room_for(candidate->key(), true); !room) return room.error();
  const auto short_id = peers_.assign_rx_short_id(*candidate);
  const auto stored = peer::as_node_peer(peers_.insert_if_absent(candidate->key(), candidate));
  if (stored != candidate) peers_.erase_short_id(short_id, candidate->key());
  if (!stored) return error::PeerNotPresent{};
  if (stored == candidate && is_stranger(stored->key())) strangers_.fetch_add(1, std::memory_order_relaxed);
  return stored;
}

}  // namespace valdori::p2p::node
