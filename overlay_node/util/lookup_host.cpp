#include "overlay_node/util/lookup_host.hpp"

#include <charconv>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include <fmt/format.h>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/experimental/concurrent_channel.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "overlay_node/util/ares_resolver.hpp"
#include "util/log/log.hpp"
#include "util/runtime/race.hpp"

namespace valdori::peer {
namespace {

namespace asio = boost::asio;
using p2p::net::SocketAddr;
using Addrs = std::vector<SocketAddr>;
using Resolved = boost::system::result<Addrs, std::string>;
using LookupResult = boost::system::result<Addrs, p2p::peer::error::Error>;
using Answer = asio::experimental::concurrent_channel<void(boost::system::error_code, Resolved)>;

spdlog::logger& lg() { return log::module_logger<"valdori_p2p::peer::super_peer">(); }

struct HostPort {
  std::string host;
  std::uint16_t port;
};

// As a socket address text is read: the port after the last colon, an IPv6 host in brackets.
boost::system::result<HostPort, std::string> split_host_port(std::string_view text) {
  const auto colon = text.rfind(':');
  if (colon == std::string_view::npos || colon == 0) return {boost::system::in_place_error, "invalid socket address"};
  std::string_view host = text.substr(0, colon);
  const std::string_view port_text = text.substr(colon + 1);
  std::uint16_t port = 0;
  const auto [end, ec] = std::from_chars(port_text.data(), port_text.data() + port_text.size(), port);
  if (port_text.empty() || ec != std::errc() || end != port_text.data() + port_text.size())
    return {boost::system::in_place_error, "invalid port value"};
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  return HostPort{std::string(host), port};
}

std::optional<SocketAddr> literal_socket_addr(const HostPort& host_port) {
  boost::system::error_code ec;
  const auto address = asio::ip::make_address(host_port.host, ec);
  if (ec) return std::nullopt;
  return SocketAddr(address, host_port.port);
}

// Runs the resolver on its own, so that a lookup past the limit cannot hold up the caller.
asio::awaitable<void> resolve_into(HostResolver resolver, HostPort host_port, std::shared_ptr<Answer> answer) {
  auto resolved = co_await resolver(std::move(host_port.host), host_port.port);
  answer->try_send(boost::system::error_code(), std::move(resolved));
}

asio::awaitable<std::optional<Resolved>> resolve_within(HostResolver resolver, HostPort host_port,
                                                        std::chrono::milliseconds limit) {
  const auto executor = co_await asio::this_coro::executor;
  auto answer = std::make_shared<Answer>(executor, 1);
  asio::co_spawn(executor, resolve_into(std::move(resolver), std::move(host_port), answer), asio::detached);
  co_return co_await util::with_timeout(answer->async_receive(asio::use_awaitable), limit);
}

std::string debug_list(const Addrs& addrs) { return fmt::format("[{}]", fmt::join(addrs, ", ")); }

asio::awaitable<LookupResult> lookup_on_strand(std::string addr, HostResolver resolver,
                                               std::chrono::milliseconds limit) {
  VLOG_TRACE(lg(), "Resolve hostname {}", addr);
  const auto host_port = split_host_port(addr);
  if (!host_port) {
    VLOG_WARN(lg(), "Failed to resolve hostname {}: {}", addr, host_port.error());
    co_return p2p::peer::error::SuperPeerLookupFailed{addr, host_port.error()};
  }
  std::optional<Resolved> resolved;
  if (const auto literal = literal_socket_addr(*host_port)) {
    resolved = Addrs{*literal};
  } else {
    resolved = co_await resolve_within(std::move(resolver), *host_port, limit);
  }
  if (!resolved) {
    VLOG_WARN(lg(), "Timeout of {} ms exceeded while attempting to resolve hostname {}", limit.count(), addr);
    co_return p2p::peer::error::SuperPeerResolveTimeout{addr, static_cast<std::uint64_t>(limit.count())};
  }
  if (!*resolved) {
    VLOG_WARN(lg(), "Failed to resolve hostname {}: {}", addr, resolved->error());
    co_return p2p::peer::error::SuperPeerLookupFailed{addr, resolved->error()};
  }
  VLOG_TRACE(lg(), "Resolved hostname {} to {}", addr, debug_list(**resolved));
  if ((*resolved)->empty()) co_return p2p::peer::error::SuperPeerResolveEmpty{};
  co_return std::move(**resolved);
}

}  // namespace

HostResolver system_resolver() { return ares_resolver(); }

asio::awaitable<LookupResult> lookup_host(std::string addr, HostResolver resolver, std::chrono::milliseconds limit) {
  // The race against the limit runs on a strand of its own, whatever the caller runs on.
  auto strand = asio::make_strand(co_await asio::this_coro::executor);
  co_return co_await asio::co_spawn(strand, lookup_on_strand(std::move(addr), std::move(resolver), limit),
                                    asio::use_awaitable);
}

}  // namespace valdori::peer
