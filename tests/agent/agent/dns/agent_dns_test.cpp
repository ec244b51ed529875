#include "agent/agent/dns/agent_dns.hpp"

#include <atomic>
#include <csignal>
#include <future>
#include <set>
#include <thread>

#include <gtest/gtest.h>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/use_future.hpp>

#include "dns_samples.hpp"
#include "tests/support/agent/agent_testbed.hpp"
#include "tests/support/log_capture.hpp"

namespace valdori::agent::dns {
namespace {

using agent::testing::TunPair;
using namespace testing;

std::shared_ptr<const DnsCatalog> catalog_of(const std::vector<std::optional<HostnameEntries>>& lists) {
  return std::make_shared<const DnsCatalog>(build_catalog(networks(lists)));
}

TEST(AgentDnsServerIp, StoredAddressOnly) {
  AgentDns dns;
  EXPECT_EQ(dns.server_ip(), std::nullopt);
  EXPECT_FALSE(dns.is_server_ip(addr("0.0.0.0")));
  EXPECT_FALSE(dns.is_server_ip(addr("10.0.0.254")));

  dns.store_server_ip(addr("10.0.0.254"));
  EXPECT_TRUE(dns.is_server_ip(addr("10.0.0.254")));
  EXPECT_FALSE(dns.is_server_ip(addr("10.0.0.253")));

  for (const auto& cleared : {std::optional<Ipv4Addr>{}, std::optional{addr("0.0.0.0")}}) {
    dns.store_server_ip(addr("10.0.0.254"));
    dns.store_server_ip(cleared);
    EXPECT_EQ(dns.server_ip(), std::nullopt);
    EXPECT_FALSE(dns.is_server_ip(addr("0.0.0.0")));
  }
}

class AgentDnsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { std::signal(SIGPIPE, SIG_IGN); }

  void on_packet(const Bytes& message) {
    runtime_.block_on(dns_.on_packet(tunnel_.device(), kClient, kResponder, message));
  }

  util::Runtime runtime_{1};
  TunPair tunnel_{runtime_.executor()};
  AgentDns dns_;
};

TEST_F(AgentDnsTest, AnswersAQueryWithOnePacketBackToTheClient) {
  dns_.replace_catalog(catalog_of({HostnameEntries{{"10.0.0.2", "web-01"}}, std::nullopt}));
  valdori::testing::LogCapture capture;
  on_packet(query_wire("web-01.valdori.", LDNS_RR_TYPE_A));

  const auto packet = tunnel_.receive(kNoWait);
  ASSERT_TRUE(packet.has_value());
  EXPECT_FALSE(tunnel_.receive(kNoWait).has_value());
  const auto reply = parse_reply(*packet);
  EXPECT_EQ(reply.from, kResponder);
  EXPECT_EQ(reply.to, kClient);
  const LdnsPkt message = from_wire(reply.message);
  EXPECT_EQ(testing::answer_addresses(*message), std::vector{addr("10.0.0.2")});

  EXPECT_TRUE(capture.has_containing(log::Level::trace, "Received DNS packet from 10.0.0.7:40001 ("));
  EXPECT_TRUE(capture.has(log::Level::debug, "query:web-01.valdori.:A:IN"));
  EXPECT_TRUE(
      capture.has(log::Level::debug, "request:4660 src:UDP://10.0.0.7#40001 type:Query dnssec:false QUERY qflags:RD"));
  EXPECT_TRUE(capture.has(log::Level::trace, "DNS packet processing completed"));
}

TEST_F(AgentDnsTest, DropsWhatIsNoQueryWithoutAnswering) {
  dns_.replace_catalog(catalog_of({HostnameEntries{{"10.0.0.2", "web-01"}}}));
  Bytes response = query_wire("web-01.valdori.", LDNS_RR_TYPE_A);
  response[2] |= 0x80;  // QR
  const Bytes query = query_wire("web-01.valdori.", LDNS_RR_TYPE_A);
  struct Case {
    const char* name;
    Bytes message;
    log::Level level;
    const char* line;
  };
  const Case cases[] = {
      {"response", response, log::Level::trace, "Dropping DNS response message to prevent reflection attacks"},
      {"5 random bytes", {0x8F, 0x02, 0xD1, 0x44, 0x17}, log::Level::err, "Failed to decode DNS message: "},
      {"cut inside the question", Bytes(query.begin(), query.begin() + 20), log::Level::err,
       "Failed to decode DNS message: "},
      {"compression loop",
       {0, 1, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0xC0, 12, 0, 1, 0, 1},
       log::Level::err,
       "Failed to decode DNS message: "},
  };
  for (const Case& c : cases) {
    valdori::testing::LogCapture capture;
    on_packet(c.message);
    EXPECT_FALSE(tunnel_.receive(kNoWait).has_value()) << c.name;
    EXPECT_TRUE(capture.has_containing(c.level, c.line)) << c.name;
    EXPECT_TRUE(capture.has(log::Level::trace, "DNS packet processing completed")) << c.name;
  }
}

TEST_F(AgentDnsTest, FailedAnswerWriteIsLogged) {
  dns_.replace_catalog(catalog_of({HostnameEntries{{"10.0.0.2", "web-01"}}}));
  tunnel_.close_kernel_side();
  valdori::testing::LogCapture capture;
  on_packet(query_wire("web-01.valdori.", LDNS_RR_TYPE_A));
  EXPECT_TRUE(capture.has_containing(log::Level::warn, "Failed to send DNS response: "));
}

// Queries answered while the catalogue is being replaced get one catalogue's records, never a
// mixture.
TEST(AgentDnsConcurrency, EachAnswerComesFromOneCatalogue) {
  constexpr int kTasks = 4;
  constexpr int kQueriesPerTask = 40;
  util::Runtime runtime(4);
  TunPair tunnel(runtime.executor());
  AgentDns dns;
  const auto first = catalog_of({HostnameEntries{{"10.0.0.1", "a"}, {"10.0.0.2", "a"}}});
  const auto second = catalog_of({HostnameEntries{{"10.0.1.1", "a"}, {"10.0.1.2", "a"}}});
  dns.replace_catalog(first);

  std::atomic<bool> done{false};
  std::thread swapper([&] {
    for (bool flip = false; !done.load(); flip = !flip) dns.replace_catalog(flip ? first : second);
  });
  std::vector<Bytes> packets;
  std::thread reader([&] {
    while (packets.size() < kTasks * kQueriesPerTask) {
      auto packet = tunnel.receive();
      if (!packet) break;
      packets.push_back(std::move(*packet));
    }
  });
  const Bytes query = query_wire("a.valdori.", LDNS_RR_TYPE_A);
  auto ask = [&]() -> boost::asio::awaitable<void> {
    for (int i = 0; i < kQueriesPerTask; ++i) co_await dns.on_packet(tunnel.device(), kClient, kResponder, query);
  };
  std::vector<std::future<void>> tasks;
  for (int t = 0; t < kTasks; ++t) {
    tasks.push_back(
        boost::asio::co_spawn(boost::asio::make_strand(runtime.executor()), ask(), boost::asio::use_future));
  }
  for (auto& task : tasks) task.get();
  reader.join();
  done = true;
  swapper.join();

  const std::set<Ipv4Addr> from_first = {addr("10.0.0.1"), addr("10.0.0.2")};
  const std::set<Ipv4Addr> from_second = {addr("10.0.1.1"), addr("10.0.1.2")};
  for (const Bytes& packet : packets) {
    const auto addresses = testing::answer_addresses(*from_wire(parse_reply(packet).message));
    const std::set<Ipv4Addr> answered(addresses.begin(), addresses.end());
    EXPECT_TRUE(answered == from_first || answered == from_second);
  }
}

}  // namespace
}  // namespace valdori::agent::dns
