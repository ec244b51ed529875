// Super-peer host lookup: literal addresses, resolver answers and failures, and the time limit.
#include "overlay_node/util/lookup_host.hpp"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "overlay_node/util/ares_resolver.hpp"
#include "tests/overlay_node/node_task_fixture.hpp"

namespace valdori::node_test {
namespace {

namespace asio = boost::asio;
using log::Level;
using p2p::net::SocketAddr;
using Addrs = std::vector<SocketAddr>;
using Resolved = boost::system::result<Addrs, std::string>;

constexpr std::chrono::milliseconds kShortLimit{20};

peer::HostResolver answering(Resolved answer) {
  return [answer](std::string, std::uint16_t) -> asio::awaitable<Resolved> { co_return answer; };
}

// Answers long after any limit of these tests.
peer::HostResolver hanging() {
  return [](std::string, std::uint16_t) -> asio::awaitable<Resolved> {
    asio::steady_timer timer(co_await asio::this_coro::executor, std::chrono::hours(1));
    co_await timer.async_wait(asio::use_awaitable);
    co_return Addrs{addr("192.0.2.1", 1)};
  };
}

peer::HostResolver unused() {
  return [](std::string, std::uint16_t) -> asio::awaitable<Resolved> {
    ADD_FAILURE() << "a literal address needs no resolver";
    co_return Addrs{};
  };
}

struct LookupCase {
  std::string name;
  std::string addr;
  peer::HostResolver resolver;
  std::string outcome;  // the address list, or the error's debug form
  std::optional<std::string> warning;
};

std::string outcome_of(const boost::system::result<Addrs, p2p::peer::error::Error>& result) {
  return result ? fmt::format("[{}]", fmt::join(*result, ", ")) : p2p::peer::error::debug(result.error());
}

class LookupHost : public NodeTaskTest, public ::testing::WithParamInterface<LookupCase> {};

TEST_P(LookupHost, ResolvesOrReports) {
  const auto& c = GetParam();
  const auto result = run(peer::lookup_host(c.addr, c.resolver, kShortLimit));
  EXPECT_EQ(outcome_of(result), c.outcome);
  EXPECT_TRUE(logs.has(Level::trace, "Resolve hostname " + c.addr));
  if (c.warning) {
    EXPECT_EQ(logs.texts(Level::warn), std::vector{*c.warning});
  } else {
    EXPECT_TRUE(logs.texts(Level::warn).empty());
    EXPECT_TRUE(logs.has_containing(Level::trace, "Resolved hostname " + c.addr + " to ["));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LookupHost,
    ::testing::Values(
        LookupCase{"LiteralIpv4", "127.0.0.1:4000", unused(), "[127.0.0.1:4000]", {}},
        LookupCase{"LiteralIpv6", "[::1]:4000", unused(), "[[::1]:4000]", {}},
        LookupCase{"NameInResolverOrder",
                   "sp.example:4000",
                   answering(Addrs{addr("192.0.2.7", 4000), addr("::1", 4000), addr("192.0.2.1", 4000)}),
                   "[192.0.2.7:4000, [::1]:4000, 192.0.2.1:4000]",
                   {}},
        LookupCase{"NameWithoutAddress", "sp.example:4000", answering(Addrs{}), "SuperPeerResolveEmpty", {}},
        LookupCase{"ResolverFails", "sp.example:4000",
                   answering(Resolved(boost::system::in_place_error, "no such host")),
                   "SuperPeerLookupFailed(\"sp.example:4000\", \"no such host\")",
                   "Failed to resolve hostname sp.example:4000: no such host"},
        LookupCase{"NoPort", "sp.example", unused(),
                   "SuperPeerLookupFailed(\"sp.example\", \"invalid socket address\")",
                   "Failed to resolve hostname sp.example: invalid socket address"},
        LookupCase{"PortOutOfRange", "sp.example:65536", unused(),
                   "SuperPeerLookupFailed(\"sp.example:65536\", \"invalid port value\")",
                   "Failed to resolve hostname sp.example:65536: invalid port value"},
        LookupCase{"ResolverTooSlow", "sp.example:4000", hanging(), "SuperPeerResolveTimeout(\"sp.example:4000\", 20)",
                   "Timeout of 20 ms exceeded while attempting to resolve hostname sp.example:4000"}),
    [](const ::testing::TestParamInfo<LookupCase>& param) { return param.param.name; });

class SystemResolver : public NodeTaskTest {};

TEST_F(SystemResolver, FindsLocalhost) {
  const auto result = run(peer::lookup_host("localhost:4000"));
  ASSERT_TRUE(result);
  EXPECT_NE(std::ranges::find(*result, addr("127.0.0.1", 4000)), result->end());
}

TEST_F(SystemResolver, ALookupWhoseNameServerNeverAnswersHoldsUpNoOther) {
  auto silent = remote_socket();
  const auto resolver = peer::ares_resolver(p2p::net::to_string(silent.local_endpoint()), std::chrono::seconds(1));
  using Result = boost::system::result<Addrs, p2p::peer::error::Error>;
  std::optional<Result> hanging;
  std::optional<Result> local;
  asio::co_spawn(io, peer::lookup_host("sp.example:4000", resolver, std::chrono::seconds(20)),
                 [&](std::exception_ptr, Result result) { hanging = std::move(result); });
  asio::co_spawn(io, peer::lookup_host("localhost:4000", resolver, std::chrono::seconds(20)),
                 [&](std::exception_ptr, Result result) { local = std::move(result); });

  ASSERT_TRUE(run_until([&] { return local.has_value(); }));
  EXPECT_FALSE(hanging.has_value());
  ASSERT_TRUE(*local);
  EXPECT_NE(std::ranges::find(**local, addr("127.0.0.1", 4000)), (*local)->end());
  // The hanging one ends at the resolver's own limit, having asked the silent server.
  ASSERT_TRUE(run_until([&] { return hanging.has_value(); }));
  EXPECT_FALSE(*hanging);
  EXPECT_FALSE(received(silent).empty());
}

}  // namespace
}  // namespace valdori::node_test
