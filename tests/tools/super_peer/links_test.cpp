// TCP links are held only by traffic that dispatches, a few per address group, and up to a global
// cap at which links that dispatched nothing make room for newcomers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "p2p_core/message/layout.hpp"
#include "tests/support/log_capture.hpp"
#include "tests/support/wait_until.hpp"
#include "tests/tools/super_peer/harness.hpp"

namespace valdori::super_peer::testing {
namespace {

using namespace std::chrono_literals;
namespace asio = boost::asio;

// A whole frame the super peer drops: a HELLO with its magic broken.
Bytes junk_of(const NodeSide& node) {
  Bytes message = node.hello(1, {});
  message[0] ^= 0xff;
  return message;
}

TEST_F(SuperPeerTest, LinksThatDispatchNothingAreClosedAndOneAddressHoldsFewLinks) {
  SuperPeerOptions options = default_options();
  options.tcp_idle_timeout = 300ms;
  options.max_tcp_links_per_address = 3;
  start(options);
  TcpNode active(io_, url());
  TcpNode trickling(io_, url());
  TcpNode junk(io_, url());
  TcpNode one_too_many(io_, url());
  EXPECT_TRUE(one_too_many.closed_by_super_peer());
  // A frame of 256 bytes, announced a byte at a time, never completes; whole frames of junk come
  // all along. The active link greets all along too, for twice the idle timeout.
  const Bytes trickle{0, 0, 1};
  for (std::size_t i = 0; i < 6; ++i) {
    greet(active);
    if (i < trickle.size()) trickling.send_raw(Bytes{trickle[i]});
    junk.try_send(junk_of(junk));
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_TRUE(trickling.closed_by_super_peer());
  // Closed while the junk still came, not once it stopped.
  EXPECT_TRUE(junk.closed_by_super_peer(50ms));
  greet(active);
}

// At the cap of three, each newcomer takes the place of the oldest link that has dispatched
// nothing (silent, then junk); once every link has dispatched, a newcomer is refused.
TEST_F(SuperPeerTest, AtTheLinkCapNewcomersDisplaceLinksThatDispatchedNothing) {
  SuperPeerOptions options = default_options();
  options.max_tcp_links = 3;
  start(options);
  TcpNode first(io_, url());
  greet(first);
  TcpNode silent(io_, url());
  TcpNode junk(io_, url());
  junk.send(junk_of(junk));
  TcpNode second(io_, url());
  greet(second);
  EXPECT_TRUE(silent.closed_by_super_peer());
  TcpNode third(io_, url());
  greet(third);
  EXPECT_TRUE(junk.closed_by_super_peer());
  TcpNode refused(io_, url());
  EXPECT_TRUE(refused.closed_by_super_peer());
  greet(first);
  greet(second);
  greet(third);
}

TEST_F(SuperPeerTest, LinksAreCountedPerIpv6SlashSixtyFour) {
  const bool made = in_new_network_namespace([&] {
    ASSERT_EQ(std::system("ip -6 addr add fd00:0:0:1::a/64 dev lo nodad && "
                          "ip -6 addr add fd00:0:0:1::b/64 dev lo nodad && "
                          "ip -6 addr add fd00:0:0:2::a/64 dev lo nodad"),
              0);
    SuperPeerOptions options = default_options();
    options.listen_address = asio::ip::address_v6::loopback();
    options.max_tcp_links_per_address = 1;
    start(options);
    const struct {
      const char* from;
      bool served;
    } cases[] = {
        {"fd00:0:0:1::a", true},
        {"fd00:0:0:1::b", false},
        {"fd00:0:0:2::a", true},
    };
    std::vector<std::unique_ptr<TcpNode>> held;
    for (const auto& c : cases) {
      SCOPED_TRACE(c.from);
      auto& node = *held.emplace_back(std::make_unique<TcpNode>(io_, url(), asio::ip::make_address(c.from)));
      if (c.served) {
        greet(node);
      } else {
        EXPECT_TRUE(node.closed_by_super_peer());
      }
    }
  });
  if (!made) GTEST_SKIP() << "no network namespace of our own (needs root)";
}

// The process's file table, full for the object's lifetime (under a lowered limit).
class FullFileTable {
 public:
  FullFileTable() {
    ::getrlimit(RLIMIT_NOFILE, &previous_);
    rlimit lowered = previous_;
    lowered.rlim_cur = std::min<rlim_t>(previous_.rlim_cur, 4096);
    ::setrlimit(RLIMIT_NOFILE, &lowered);
    for (int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC); fd >= 0; fd = ::dup(fd)) fds_.push_back(fd);
  }
  ~FullFileTable() {
    for (const int fd : fds_) ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &previous_);
  }
  FullFileTable(const FullFileTable&) = delete;
  FullFileTable& operator=(const FullFileTable&) = delete;

 private:
  rlimit previous_{};
  std::vector<int> fds_;
};

TEST_F(SuperPeerTest, AnAcceptFailingForWantOfDescriptorsIsLoggedOnce) {
  const valdori::testing::LogCapture logs;
  start();
  boost::asio::ip::tcp::socket waiting(io_);
  waiting.open(boost::asio::ip::tcp::v4());
  const std::string failing = "Error accepting TCP link: Too many open files";
  {
    const FullFileTable full;
    waiting.connect({boost::asio::ip::make_address(url().host()), url().tcp_port()});
    // The acceptor retries every 100 ms meanwhile.
    EXPECT_TRUE(valdori::testing::wait_until([&] { return logs.has(log::Level::warn, failing); }));
    std::this_thread::sleep_for(kSilence);
  }
  EXPECT_TRUE(valdori::testing::wait_until([&] { return logs.has(log::Level::info, "Accepting TCP links again"); }));
  const auto warnings = logs.texts(log::Level::warn);
  EXPECT_EQ(std::count(warnings.begin(), warnings.end(), failing), 1);
  TcpNode node(io_, url());
  greet(node);
}

}  // namespace
}  // namespace valdori::super_peer::testing
