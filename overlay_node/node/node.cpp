#include "overlay_node/node/node.hpp"

#include <optional>
#include <string>
#include <utility>

#include <fmt/format.h>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/strand.hpp>

#include "overlay_node/node/housekeeping.hpp"
#include "overlay_node/node/monitor.hpp"
#include "overlay_node/node/span_log.hpp"
#include "overlay_node/node/udp.hpp"
#include "overlay_node/util/lookup_host.hpp"
#include "p2p_core/node/udp_socket.hpp"
#include "p2p_core/peer/session_keys.hpp"
#include "p2p_core/peer/super_peer.hpp"
#include "util/log/log.hpp"
#include "util/runtime/strand.hpp"
#include "util/runtime/task_set.hpp"
#include "util/text/debug_string.hpp"

namespace valdori::node {
namespace {

namespace asio = boost::asio;
namespace error = p2p::node::error;
using p2p::net::InterfaceAddr;
using p2p::net::SocketAddr;
using p2p::node::NodeOpts;
using p2p::node::UdpBindings;

spdlog::logger& lg() { return log::module_logger<"valdori_p2p::node::node">(); }

// The socket address as the field of a binding's log line.
#define ADDR_FIELD(addr) (log::Fields{{"addr", p2p::net::to_string(addr)}})

std::string debug_list(const std::vector<InterfaceAddr>& addrs) {
  std::string text = "[";
  for (const auto& entry : addrs) {
    if (text.size() > 1) text += ", ";
    text += fmt::format("({}, {})", util::text::debug_string(entry.name), entry.addr.to_string());
  }
  return text + "]";
}

// `udp_sockets` sockets per address, all on `port`; port 0 takes the port the first socket got.
// A configured address that cannot be bound fails the bind; an interface address is skipped.
boost::system::result<UdpBindings, error::Error> bind_sockets(const asio::any_io_executor& executor,
                                                              const NodeOpts& opts,
                                                              const std::vector<InterfaceAddr>& addrs,
                                                              std::uint16_t& port, const util::CancellationToken& token,
                                                              const SpanLog& span) {
  const bool configured = !opts.udp_addrs.empty();
  UdpBindings bindings;
  bindings.reserve(addrs.size() * opts.udp_sockets);
  for (const auto& [name, ip] : addrs) {
    for (std::size_t number = 0; number < opts.udp_sockets; ++number) {
      const SocketAddr addr(ip, port);
      span.log_with(log::Level::trace, ADDR_FIELD(addr), "Bind new UDP server");
      auto socket = p2p::node::new_udp_reuseport(executor, addr);
      if (!socket) {
        if (configured) return error::BindError{socket.error(), addr};
        span.log_with(log::Level::warn, ADDR_FIELD(addr), "Failed to bind new UDP server: {}",
                      socket.error().message());
        continue;
      }
      auto binding = p2p::node::UdpBinding::create(token.child_token(), *socket, name);
      if (!binding) {
        if (configured) return binding.error();
        span.log_with(log::Level::warn, ADDR_FIELD(addr), "Failed to bind new UDP server: {}",
                      error::display(binding.error()));
        continue;
      }
      if (port == 0) port = (*binding)->local_addr().port();
      if (number == 0) span.log_with(log::Level::trace, ADDR_FIELD((*binding)->local_addr()), "Bound UDP server");
      bindings.push_back(std::move(*binding));
    }
  }
  return bindings;
}

asio::awaitable<boost::system::result<std::shared_ptr<p2p::peer::SuperPeer>, error::Error>> build_super_peer(
    const p2p::SuperPeerUrl& url, const UdpBindings& bindings,
    const std::optional<p2p::peer::AgreementKeys>& agreement_keys) {
  // A super peer that does not resolve now is resolved again by the housekeeping.
  auto resolved = co_await peer::lookup_host(url.addr());
  auto session_keys = p2p::peer::session_keys_for(agreement_keys, url.pk());
  if (!session_keys) co_return error::PeerError{session_keys.error()};
  auto super_peer = std::make_shared<p2p::peer::SuperPeer>(
      url, *session_keys, resolved ? std::optional(std::move(*resolved)) : std::nullopt);
  super_peer->add_paths_for_resolved_addrs(bindings);
  co_return super_peer;
}

// Holds a copy of the token, taken when the wait is made: the wait may outlive the node.
asio::awaitable<void> wait_cancelled(util::CancellationToken token) { co_await token.cancelled(); }

}  // namespace

asio::awaitable<boost::system::result<Node, error::Error>> Node::bind(
    asio::any_io_executor executor, NodeOpts opts, std::optional<asio::any_io_executor> packet_executor) {
  const SpanLog span(lg(), "bind");
  const asio::any_io_executor io_executor = packet_executor.value_or(executor);
  std::optional<p2p::peer::AgreementKeys> agreement_keys;
  if (opts.arm_messages) {
    const auto keys = p2p::peer::AgreementKeys::from_identity(opts.id);
    if (!keys) co_return error::CryptoError{keys.error()};
    agreement_keys = *keys;
  }

  const auto addrs = my_addrs(opts);
  if (!addrs) co_return addrs.error();
  span.log(log::Level::trace, "UDP addresses: {}", debug_list(*addrs));
  std::uint16_t port = opts.udp_port.value_or(opts.id.pk().udp_port());
  span.log(log::Level::trace, "UDP port: {}", port);

  const util::CancellationToken token;
  auto bindings = bind_sockets(io_executor, opts, *addrs, port, token, span);
  if (!bindings) co_return bindings.error();
  if (bindings->empty())
    span.log(log::Level::warn,
             "Could not bind to any UDP addresses. This may be because the system currently has no IP address "
             "(which is fine; the node will automatically bind once addresses become available).");

  if (opts.super_peers.empty()) co_return error::NoSuperPeers{};
  const auto network_id = opts.super_peers.front().network_id_bytes();
  std::vector<std::shared_ptr<p2p::peer::SuperPeer>> super_peers;
  for (const auto& url : opts.super_peers) {
    if (url.network_id_bytes() != network_id)
      co_return error::SuperPeerNetworkIdMismatch{network_id, url.network_id_bytes()};
    auto super_peer = co_await build_super_peer(url, *bindings, agreement_keys);
    if (!super_peer) co_return super_peer.error();
    super_peers.push_back(std::move(*super_peer));
  }

  auto inner = std::make_shared<p2p::node::NodeInner>(p2p::node::NodeInit{.opts = std::move(opts),
                                                                          .network_id = network_id,
                                                                          .agreement_keys = agreement_keys,
                                                                          .super_peers = std::move(super_peers),
                                                                          .bindings = std::move(*bindings),
                                                                          .port = port,
                                                                          .token = token,
                                                                          .executor = io_executor});
  auto tasks = std::make_shared<util::TaskSet<void>>(executor);
  tasks->spawn(housekeeping_runner(inner, token));
  for (const auto& binding : *inner->udp_bindings()) spawn_udp_reader(inner, binding);
  asio::co_spawn(util::make_task_strand(executor), monitor(std::move(tasks), token, lg()), asio::detached);
  co_return Node(std::move(inner));
}

boost::system::result<std::vector<InterfaceAddr>, error::Error> Node::my_addrs(const NodeOpts& opts) {
  if (!opts.udp_addrs.empty()) {
    std::vector<InterfaceAddr> addrs;
    for (const auto& addr : opts.udp_addrs) addrs.push_back({{}, addr});
    return addrs;
  }
  auto addrs = p2p::net::get_addrs(opts.tunnel_interface);
  if (!addrs) return error::GetAddrsFailed{addrs.error()};
  return std::move(*addrs);
}

Node::~Node() {
  if (!inner_) return;
  inner_->token().cancel();
  inner_->close_send_handles();
}

asio::awaitable<void> Node::cancelled() const { return wait_cancelled(inner_->token()); }

boost::system::result<std::shared_ptr<p2p::node::SendHandle>, error::Error> Node::send_handle(
    const p2p::PubKey& recipient) const {
  return inner_->send_handle(recipient);
}

}  // namespace valdori::node
