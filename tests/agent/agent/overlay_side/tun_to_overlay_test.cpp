#include "agent/agent/netif/tun_to_overlay.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

#include "agent/agent/netif/tun_runner.hpp"
#include "packet_path_fixture.hpp"
#include "tests/support/env_guard.hpp"

namespace valdori::agent::testing {
namespace {

using valdori::testing::EnvGuard;

// A packet no test routes; once its first line is logged, a single worker has finished with
// every packet injected before it.
const Bytes kSentinel = udp_packet("192.0.2.1", 1, "192.0.2.2", 1, Bytes{});
constexpr const char* kSentinelLine = "Forwarding packet from TUN device to Valdori: 192.0.2.1 -> 192.0.2.2";

// A DNS query (id 0x1234, recursion desired) for "host.example", type A, class IN.
const Bytes kDnsQuery{0x12, 0x34, 0x01, 0x00, 0,   1,   0,   0,   0,   0,   0, 0, 4, 'h', 'o',
                      's',  't',  7,    'e',  'x', 'a', 'm', 'p', 'l', 'e', 0, 0, 1, 0,   1};

class TunToOverlayTest : public PacketPathTest {
 protected:
  // One worker over the tunnel, so that packets are handled in the order they were injected.
  // The capture starts after its start line.
  void start_worker(const std::shared_ptr<AgentInner>& inner) {
    spawn(netif::tun_to_overlay(inner, tun_.device(), std::make_shared<util::Turns>(inner->executor),
                                inner->token.child_token(), 0, 1));
    EXPECT_TRUE(wait_log(log::Level::trace, "tun -> Valdori packet processing task started (1/1)."));
    logs_.clear();
  }

  // The tunnel events of the packets injected so far.
  std::vector<valdori::testing::CapturedEvent> settle() {
    tun_.inject(kSentinel);
    return events_before(kNetifTarget, kSentinelLine);
  }

  // What the tunnel side queued, once settled, in order.
  std::vector<OutboundItem> drain(AgentInner& inner) {
    std::vector<OutboundItem> items;
    EXPECT_FALSE(inner.outbound->try_push(OutboundItem{{}, nullptr}));  // the end mark
    while (auto item = pop(*inner.outbound)) {
      if (!item->handle) break;
      items.push_back(std::move(*item));
    }
    return items;
  }
};

TEST_F(TunToOverlayTest, DropsWhatIsNoIpv4PacketWithoutALine) {
  auto inner = make_inner();
  inner->tx_trie.store(two_level_trie(TxRoutes{{"0.0.0.0/0", "0.0.0.0/0", send_handle(*inner, new_key())}}));
  start_worker(inner);

  // Every reason the header parser gives (its own tests) ends the same way.
  Bytes ipv6(40, 0);
  ipv6[0] = 0x60;
  tun_.inject(Bytes(19, 0x45));
  tun_.inject(ipv6);

  EXPECT_TRUE(settle().empty());
  const auto queued = drain(*inner);
  ASSERT_EQ(queued.size(), 1u);  // the sentinel only
  EXPECT_EQ(queued[0].packet, kSentinel);
}

TEST_F(TunToOverlayTest, QueuesWhatTheTransmitTrieRoutesWithItsPeer) {
  auto inner = make_inner();
  const auto peer = send_handle(*inner, new_key());
  inner->tx_trie.store(two_level_trie(TxRoutes{{"10.1.0.0/16", "10.0.0.0/24", peer}}));
  start_worker(inner);

  const Bytes packets[] = {
      udp_packet("10.0.0.7", 40000, "10.1.2.3", 9000, Bytes{1, 2, 3}),
      udp_packet("10.0.0.7", 40000, "10.1.2.3", 9000, Bytes{0x1E, 0x3F, 0x50}),  // too short to be control
      ipv4_packet("10.0.0.8", "10.1.0.1", kTcp, Bytes(1000, 0xC3)),
  };
  for (const auto& packet : packets) {
    tun_.inject(packet);
    const auto item = pop(*inner->outbound);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->packet, packet);
    EXPECT_EQ(item->handle, peer);
  }
  EXPECT_TRUE(wait_log(log::Level::trace, "Found dest trie entry with net 10.1.0.0/16 src=10.0.0.7 dst=10.1.2.3"));
  EXPECT_TRUE(wait_log(log::Level::trace,
                       "Successfully forwarded packet to Valdori: 10.0.0.7 -> 10.1.2.3 src=10.0.0.7 dst=10.1.2.3"));

  // A new trie counts from the next packet on.
  inner->tx_trie.store(two_level_trie(TxRoutes{}));
  tun_.inject(packets[0]);
  EXPECT_TRUE(wait_log(log::Level::warn, "No outbound route found for destination: 10.0.0.7 -> 10.1.2.3"));
}

TEST_F(TunToOverlayTest, DropsWhatTheTransmitTrieDoesNotAllow) {
  struct Case {
    Bytes packet;
    log::Level level;
    std::string line;
  };
  const Case cases[] = {
      // The most specific destination decides, even when a wider one would take the source.
      {udp_packet("10.9.0.1", 1000, "10.1.2.3", 2000, Bytes{1}), log::Level::warn,
       "No outbound route found for source: 10.9.0.1 -> 10.1.2.3 (source IP not in routing table) "
       "src=10.9.0.1 dst=10.1.2.3"},
      {udp_packet("10.9.0.1", 1000, "10.2.0.1", 2000, Bytes{1}), log::Level::warn,
       "No outbound route found for destination: 10.9.0.1 -> 10.2.0.1 (missing destination route in routing table) "
       "src=10.9.0.1 dst=10.2.0.1"},
      {udp_packet("10.9.0.1", 1000, "10.1.0.5", 2000, kControlMarker), log::Level::trace,
       "Dropping Valdori control plane packet: 10.9.0.1 -> 10.1.0.5 (control traffic filtered) "
       "src=10.9.0.1 dst=10.1.0.5"},
  };
  auto inner = make_inner();
  const auto peer = send_handle(*inner, new_key());
  inner->tx_trie.store(
      two_level_trie(TxRoutes{{"10.1.0.0/16", "10.9.0.0/16", peer}, {"10.1.2.0/24", "10.8.0.0/16", peer}}));
  start_worker(inner);

  for (const auto& c : cases) {
    tun_.inject(c.packet);
    EXPECT_TRUE(wait_log(c.level, c.line)) << c.line;
  }
  settle();
  EXPECT_TRUE(drain(*inner).empty());
}

TEST_F(TunToOverlayTest, ReflectsOnlyPacketsToAnOwnAddress) {
  auto inner = make_inner();
  inner->tx_trie.store(two_level_trie(TxRoutes{{"10.0.0.0/24", "0.0.0.0/0", send_handle(*inner, new_key())}}));
  const auto slot = inner->netif.slot();
  inner->netif.store_slot({slot->device, slot->token, {ip("10.0.0.5")}});
  start_worker(inner);

  // Not this node's: it would circle between the tunnel and a forwarding host.
  tun_.inject(ipv4_packet("10.0.0.9", "10.0.0.9", kTcp, Bytes(64, 0x66)));
  const Bytes own = ipv4_packet("10.0.0.5", "10.0.0.5", kTcp, Bytes(64, 0x77));
  tun_.inject(own);
  EXPECT_EQ(tun_.receive(), own);
  const auto events = settle();
  EXPECT_EQ(events.back().text,
            "Successfully sent loopback packet back to TUN device: 10.0.0.5 -> 10.0.0.5 "
            "src=10.0.0.5 dst=10.0.0.5");
  EXPECT_TRUE(drain(*inner).empty());
}

// Checks one reply of the responder to kDnsQuery and gives its response code.
int dns_reply_code(const Bytes& reply) {
  EXPECT_GE(reply.size(), 28u + 12u);
  if (reply.size() < 40) return -1;
  EXPECT_EQ(Bytes(reply.begin() + 12, reply.begin() + 20), (Bytes{10, 0, 0, 254, 10, 0, 0, 7}));
  EXPECT_EQ(Bytes(reply.begin() + 20, reply.begin() + 24), (Bytes{0, 53, 0x9C, 0x41}));  // 53 -> 40001
  EXPECT_EQ(reply[28], 0x12);
  EXPECT_EQ(reply[29], 0x34);
  EXPECT_TRUE(reply[30] & 0x80) << "QR";
  return reply[31] & 0x0F;
}

TEST_F(TunToOverlayTest, AnswersDnsQueriesToTheResponderEvenUnderADefaultRoute) {
  auto inner = make_inner();
  inner->dns->store_server_ip(ip("10.0.0.254"));
  const auto gateway = send_handle(*inner, new_key());
  start_worker(inner);
  const Bytes query = udp_packet("10.0.0.7", 40001, "10.0.0.254", 53, kDnsQuery);

  for (const bool default_route : {false, true}) {
    inner->tx_trie.store(default_route ? two_level_trie(TxRoutes{{"0.0.0.0/0", "10.0.0.0/24", gateway}})
                                       : two_level_trie(TxRoutes{}));
    logs_.clear();
    tun_.inject(query);
    const auto reply = tun_.receive();
    ASSERT_TRUE(reply) << "default route: " << default_route;
    EXPECT_EQ(dns_reply_code(*reply), 5) << "REFUSED: the catalogue has no zone";
    EXPECT_TRUE(logs_.has(log::Level::trace, "Check for DNS query to DNS server"));
    EXPECT_TRUE(wait_log(log::Level::trace, "Got potential DNS request: 10.0.0.7 -> 10.0.0.254"));
    EXPECT_TRUE(wait_log(log::Level::trace, "Packet has been processed as a DNS request. Skip further processing."));
  }
  // Other traffic to the responder's address still takes the default route.
  const Bytes other = udp_packet("10.0.0.7", 40001, "10.0.0.254", 5353, kDnsQuery);
  tun_.inject(other);
  const auto queued = pop(*inner->outbound);
  ASSERT_TRUE(queued);
  EXPECT_EQ(queued->packet, other);
  settle();
  EXPECT_TRUE(drain(*inner).empty()) << "a query was queued";
}

TEST_F(TunToOverlayTest, OnlyUdpToPort53OfTheResponderIsAQuery) {
  auto inner = make_inner();
  inner->dns->store_server_ip(ip("10.0.0.254"));
  start_worker(inner);
  Bytes tcp_to_53 = udp_packet("10.0.0.7", 40001, "10.0.0.254", 53, kDnsQuery);
  tcp_to_53[9] = kTcp;
  const Bytes cases[] = {
      tcp_to_53,
      udp_packet("10.0.0.7", 40001, "10.0.0.254", 5353, kDnsQuery),
      ipv4_packet("10.0.0.7", "10.0.0.254", kProtocolUdp, Bytes{0x9C, 0x41, 0, 53, 0, 7, 0}),  // 7 bytes of UDP header
      udp_packet("10.0.0.7", 40001, "10.0.0.253", 53, kDnsQuery),
  };
  for (const auto& packet : cases) tun_.inject(packet);
  settle();
  EXPECT_EQ(count_logs(log::Level::warn, "No outbound route found for destination: 10.0.0.7 -> 10.0.0.25"), 4u);
  EXPECT_FALSE(logs_.has_containing(log::Level::trace, "Got potential DNS request"));
  EXPECT_FALSE(tun_.receive(std::chrono::milliseconds(0)));
}

TEST_F(TunToOverlayTest, WithDnsSwitchedOffAQueryIsJustUnrouted) {
  AgentConfig config = bed_.config();
  config.dns = DnsConfig{true};
  auto inner = make_inner(std::move(config));
  start_worker(inner);
  tun_.inject(udp_packet("10.0.0.7", 40001, "10.0.0.254", 53, kDnsQuery));
  settle();
  EXPECT_TRUE(
      logs_.has_containing(log::Level::warn, "No outbound route found for destination: 10.0.0.7 -> 10.0.0.254"));
  EXPECT_FALSE(logs_.has_containing(log::Level::trace, "Check for DNS query"));
}

TEST_F(TunToOverlayTest, AnswersPacketsLongerThanTheMtuWithTheMtu) {
  AgentConfig config = bed_.config();
  config.mtu = 100;
  auto inner = make_inner(std::move(config));
  inner->tx_trie.store(two_level_trie(TxRoutes{{"0.0.0.0/0", "0.0.0.0/0", send_handle(*inner, new_key())}}));
  start_worker(inner);

  for (const std::size_t size : {101, 1500}) {
    tun_.inject(udp_packet_of_size("10.0.0.7", "10.1.0.1", size));
    const auto reply = tun_.receive();
    ASSERT_TRUE(reply && reply->size() >= 28u);
    EXPECT_EQ(Bytes(reply->begin() + 12, reply->begin() + 20), (Bytes{10, 1, 0, 1, 10, 0, 0, 7}));
    EXPECT_EQ((*reply)[20], 3);                         // destination unreachable,
    EXPECT_EQ((*reply)[21], 4);                         // fragmentation needed,
    EXPECT_EQ((*reply)[26] * 256 + (*reply)[27], 100);  // at this MTU
  }
  const Bytes fits = udp_packet_of_size("10.0.0.7", "10.1.0.1", 100);
  tun_.inject(fits);
  settle();
  // Rate-limited per call site like every per-packet warning (the limiter's own tests).
  EXPECT_GE(count_logs(log::Level::warn, "Dropping packet from TUN device: longer than the MTU of 100 bytes"), 1u);
  const auto queued = drain(*inner);
  ASSERT_EQ(queued.size(), 2u);
  EXPECT_EQ(queued[0].packet, fits);
}

TEST_F(TunToOverlayTest, AFullOutboundQueueCostsOnePacket) {
  EnvGuard capacity("VALDORI_CHANNEL_CAP", "1");
  auto inner = make_inner();
  inner->tx_trie.store(two_level_trie(TxRoutes{{"10.1.0.0/16", "10.0.0.0/24", send_handle(*inner, new_key())}}));
  start_worker(inner);

  const Bytes first = udp_packet("10.0.0.7", 1, "10.1.0.1", 1, Bytes{1});
  const Bytes second = udp_packet("10.0.0.7", 1, "10.1.0.1", 1, Bytes{2});
  const Bytes third = udp_packet("10.0.0.7", 1, "10.1.0.1", 1, Bytes{3});
  tun_.inject(first);
  tun_.inject(second);
  EXPECT_TRUE(wait_log(log::Level::warn,
                       "Failed to forward packet to Valdori: sending on a full channel "
                       "src=10.0.0.7 dst=10.1.0.1 error=sending on a full channel"));
  EXPECT_EQ(pop(*inner->outbound)->packet, first);
  tun_.inject(third);
  EXPECT_EQ(pop(*inner->outbound)->packet, third);
}

class TunRunnerTest : public TunToOverlayTest {};

// A tunnel over a UDP socket on loopback, connected to a feeder socket that refuses what the
// tunnel sends (the feeder is connected to itself): each refused datagram makes the next read
// fail with "Connection refused", a transient error from the kernel.
class RefusingTunnel {
 public:
  explicit RefusingTunnel(const boost::asio::any_io_executor& executor) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const int tunnel = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    feeder_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    auto* any = reinterpret_cast<sockaddr*>(&address);
    if (::bind(tunnel, any, length) != 0 || ::getsockname(tunnel, any, &length) != 0)
      throw std::runtime_error("tunnel");
    tunnel_address_ = address;
    address.sin_port = 0;
    if (::bind(feeder_, any, length) != 0 || ::getsockname(feeder_, any, &length) != 0 ||
        ::connect(feeder_, any, length) != 0 || ::connect(tunnel, any, length) != 0 || (sender_ = ::dup(tunnel)) < 0)
      throw std::runtime_error("feeder");
    device_ = platform::TunDevice::from_fd(executor, tunnel, platform::TunFraming::Bare).value();
  }
  ~RefusingTunnel() {
    ::close(feeder_);
    ::close(sender_);
  }
  RefusingTunnel(const RefusingTunnel&) = delete;
  RefusingTunnel& operator=(const RefusingTunnel&) = delete;

  const std::shared_ptr<platform::TunDevice>& device() const { return device_; }
  void inject(const Bytes& packet) {
    ::sendto(feeder_, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&tunnel_address_),
             sizeof tunnel_address_);
  }
  void fail_next_read() { ::send(sender_, "x", 1, 0); }

 private:
  std::shared_ptr<platform::TunDevice> device_;
  sockaddr_in tunnel_address_{};
  int feeder_ = -1;
  int sender_ = -1;
};

TEST_F(TunRunnerTest, FailedReadsAreRetriedAndFailuresLasting30SecondsStopTheAgent) {
  EnvGuard threads("VALDORI_TUN_THREADS", "1");
  auto inner = make_inner();
  inner->tx_trie.store(two_level_trie(TxRoutes{{"10.1.0.0/16", "10.0.0.0/24", send_handle(*inner, new_key())}}));
  RefusingTunnel tunnel(bed_.executor());
  const auto ahead = std::make_shared<std::atomic<int>>(0);  // seconds the workers' clock is ahead
  spawn(netif::tun_supervisor(inner, tunnel.device(), inner->token.child_token(), [ahead] {
    return std::chrono::steady_clock::now() + std::chrono::seconds(ahead->load());
  }));
  EXPECT_TRUE(wait_log(log::Level::trace, "tun -> Valdori packet processing task started (1/1)."));

  const std::string failed = "Failed to receive packet from TUN device: Connection refused. Retrying in ";
  for (const int pause : {10, 20, 40}) {
    tunnel.fail_next_read();
    EXPECT_TRUE(wait_log(log::Level::err, failed + std::to_string(pause) + " ms")) << pause;
  }
  const Bytes packet = udp_packet("10.0.0.7", 1, "10.1.0.1", 1, Bytes{1});
  tunnel.inject(packet);
  const auto queued = pop(*inner->outbound);
  ASSERT_TRUE(queued);
  EXPECT_EQ(queued->packet, packet);
  // A good read starts the count afresh; failures that have lasted 30 seconds give up.
  tunnel.fail_next_read();
  EXPECT_TRUE(wait_until([&] { return count_logs(log::Level::err, failed + "10 ms") == 2; }));
  EXPECT_FALSE(inner->token.is_cancelled());
  ahead->store(30);
  tunnel.fail_next_read();
  EXPECT_TRUE(wait_until([&] { return inner->token.is_cancelled(); }));
}

TEST_F(TunRunnerTest, ARunnerStartsTunThreadsWorkers) {
  struct Case {
    std::optional<std::string> option;
    int workers;
  };
  // How the variable reads: the environment helper's tests.
  const Case cases[] = {{std::nullopt, 3}, {"2", 2}, {"0", 0}};
  auto inner = make_inner();
  for (const auto& c : cases) {
    const std::string name = c.option.value_or("unset");
    EnvGuard threads("VALDORI_TUN_THREADS", c.option);
    logs_.clear();
    const util::CancellationToken tunnel = inner->token.child_token();
    spawn(netif::tun_supervisor(inner, tun_.device(), tunnel));
    EXPECT_TRUE(wait_until([&] {
      return count_logs(log::Level::trace, "tun -> Valdori packet processing task started") ==
             static_cast<std::size_t>(c.workers);
    })) << name;
    tunnel.cancel();
    EXPECT_TRUE(wait_log(log::Level::trace, "TUN runner finished")) << name;
    for (int i = 1; i <= c.workers; ++i) {
      const std::string number = fmt::format("({}/{}).", i, c.workers);
      EXPECT_TRUE(logs_.has(log::Level::trace, "tun -> Valdori packet processing task started " + number)) << name;
      EXPECT_TRUE(
          logs_.has(log::Level::trace, "Token cancelled. Exiting tun -> Valdori packet processing task " + number))
          << name;
    }
    EXPECT_EQ(count_logs(log::Level::trace, "Token cancelled. Exiting tun -> Valdori"),
              static_cast<std::size_t>(c.workers))
        << name;
    EXPECT_TRUE(logs_.has(log::Level::trace, "TUN runner done.")) << name;
  }
  EXPECT_FALSE(inner->token.is_cancelled());
}

TEST_F(TunRunnerTest, ADeviceGoneForGoodStopsTheAgentThroughRunnerAndSupervisor) {
  auto inner = make_inner();
  const util::CancellationToken tunnel = inner->token.child_token();
  spawn(netif::tun_supervisor(inner, tun_.device(), tunnel));
  EXPECT_TRUE(
      wait_until([&] { return count_logs(log::Level::trace, "tun -> Valdori packet processing task started") == 3; }));

  tun_.close_kernel_side();
  EXPECT_TRUE(wait_until([&] { return inner->token.is_cancelled(); }));
  EXPECT_TRUE(wait_log(log::Level::err, "TUN runner failed: TUN task failed: "));
  EXPECT_GE(count_logs(log::Level::err, "Failed to receive packet from TUN device. Cancel token: "), 1u);
}

TEST_F(TunRunnerTest, WithoutADeviceTheSupervisorStartsNothing) {
  auto inner = make_inner(bed_.config(), false);
  runtime().block_on(netif::tun_supervisor(inner, nullptr, inner->token.child_token()));
  for (const auto& event : logs_.events()) EXPECT_EQ(event.target.find(kNetifTarget), std::string::npos) << event.text;
}

}  // namespace
}  // namespace valdori::agent::testing
