// A node's registration is taken only by HELLOs that authenticate (armed, recent, newer than the
// node's last), and kept on the first source while it answers; TCP links cannot be held idle or
// piled up from one address.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tests/support/log_capture.hpp"
#include "tests/support/wait_until.hpp"
#include "tests/tools/super_peer/harness.hpp"

namespace valdori::super_peer::testing {
namespace {

using namespace std::chrono_literals;

const Bytes kPayload{0x45, 0x00, 0x00, 0x1c, 0xde, 0xad, 0xbe, 0xef};

TEST_F(SuperPeerTest, AnswersOnlyHellosThatAuthenticate) {
  struct Case {
    const char* name;
    bool arming;
    bool armed;
    std::int64_t age_ms;
    bool answered;
  };
  const Case cases[] = {
      {"armed", true, true, 0, true},
      {"plain", true, false, 0, false},
      {"plain, arming off", false, false, 0, true},
      {"older than a minute", true, true, 61'000, false},
      {"a minute ahead", true, true, -61'000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SuperPeerOptions options = default_options();
    options.arm_messages = c.arming;
    start(options);
    UdpNode node(io_, url());
    const std::uint64_t time = p2p::node::system_time_ms() - c.age_ms;
    node.send(node.hello(time, {}, c.armed));
    const auto answer = node.receive(c.answered ? kAnswerLimit : kSilence);
    ASSERT_EQ(answer.has_value(), c.answered);
    if (answer) {
      EXPECT_EQ(node.ack_time(*answer, c.armed), time);
    }
  }
}

// An impostor sends A's key from a socket of its own: a plain HELLO, and A's last two armed
// HELLOs captured and replayed. None is answered, and relays for A still reach A; so do they after A
// greets from a second source of its own, since the first still answers.
TEST_F(SuperPeerTest, HijackAndReplayAreRefusedAndTheFirstSourceStays) {
  start();
  UdpNode a(io_, url());
  UdpNode b(io_, url());
  greet(b);
  const Bytes captured_earlier = a.hello(++next_time_, {});
  a.send(captured_earlier);
  ASSERT_TRUE(a.receive());
  const std::uint64_t time = ++next_time_;
  const Bytes captured = a.hello(time, {});
  a.send(captured);
  auto ack = a.receive();
  ASSERT_TRUE(ack);
  EXPECT_EQ(a.ack_time(*ack), time);

  UdpNode impostor(io_, url());
  for (const Bytes& attack : {captured, captured_earlier, a.hello(time + 1, {}, false)}) {
    impostor.send(attack);
    EXPECT_FALSE(impostor.receive(kSilence));
  }
  UdpNode a_elsewhere(io_, url(), a.identity());
  greet(a_elsewhere);

  b.send(b.app_to(a.pk(), kPayload));
  auto relayed = a.receive();
  ASSERT_TRUE(relayed);
  EXPECT_EQ(a.app_from(b.pk(), *relayed), kPayload);
  EXPECT_FALSE(impostor.receive(kSilence));
  EXPECT_FALSE(a_elsewhere.receive(kSilence));
}

TEST_F(SuperPeerTest, IdleLinksAreClosedAndOneAddressHoldsFewLinks) {
  SuperPeerOptions options = default_options();
  options.tcp_idle_timeout = 300ms;
  options.max_tcp_links_per_address = 2;
  start(options);
  TcpNode active(io_, url());
  TcpNode trickling(io_, url());
  TcpNode one_too_many(io_, url());
  EXPECT_TRUE(one_too_many.closed_by_super_peer());
  // A frame of 256 bytes, announced a byte at a time, never completes. The active link greets
  // all along, for twice the idle timeout.
  const Bytes trickle{0, 0, 1};
  for (std::size_t i = 0; i < 6; ++i) {
    greet(active);
    if (i < trickle.size()) trickling.send_raw(Bytes{trickle[i]});
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_TRUE(trickling.closed_by_super_peer());
  greet(active);
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
