#include "platform/tun/tun_device.hpp"

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/use_future.hpp>

#include "tests/support/log_capture.hpp"
#include "util/runtime/runtime.hpp"

namespace valdori::platform {
namespace {

namespace asio = boost::asio;
using Bytes = std::vector<std::uint8_t>;

// A packet socket pair stands in for the tunnel: one packet per read and write, like the
// tunnel descriptor. The device takes one end; the test plays the host's network stack on the
// other, with blocking calls.
class TunPair {
 public:
  TunPair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds_.data()), 0); }
  ~TunPair() {
    if (fds_[1] >= 0) close(fds_[1]);
  }
  TunPair(const TunPair&) = delete;
  TunPair& operator=(const TunPair&) = delete;

  std::shared_ptr<TunDevice> open(util::Runtime& runtime, TunFraming framing) {
    auto device = TunDevice::from_fd(runtime.executor(), fds_[0], framing);
    EXPECT_TRUE(device.has_value()) << device.error().message();
    return device.has_value() ? *device : nullptr;
  }

  void write_frame(const Bytes& frame) const {
    EXPECT_EQ(write(fds_[1], frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
  }
  Bytes read_frame() const {
    Bytes frame(2048);
    const ssize_t n = read(fds_[1], frame.data(), frame.size());
    EXPECT_GE(n, 0);
    frame.resize(static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    return frame;
  }
  void close_peer() {
    close(fds_[1]);
    fds_[1] = -1;
  }

 private:
  std::array<int, 2> fds_{-1, -1};
};

// The bytes of `packet` as the descriptor carries them.
Bytes frame_of(const Bytes& packet, TunFraming framing) {
  if (framing == TunFraming::Bare) return packet;
  Bytes frame(4 + packet.size());
  frame[3] = 0x02;
  std::copy(packet.begin(), packet.end(), frame.begin() + 4);
  return frame;
}

Bytes sample_packet(std::uint8_t tag, std::size_t size) {
  Bytes packet(size);
  for (std::size_t i = 0; i < size; ++i) packet[i] = static_cast<std::uint8_t>(tag + i);
  return packet;
}

asio::awaitable<boost::system::result<Bytes>> recv_packet(std::shared_ptr<TunDevice> device, std::size_t capacity) {
  Bytes buffer(capacity);
  auto n = co_await device->recv(buffer);
  if (!n) co_return n.error();
  buffer.resize(*n);
  co_return buffer;
}

asio::awaitable<boost::system::result<void>> send_packet(std::shared_ptr<TunDevice> device, Bytes packet) {
  co_return co_await device->send(packet);
}

class TunDeviceTest : public ::testing::TestWithParam<TunFraming> {
 protected:
  static void SetUpTestSuite() { std::signal(SIGPIPE, SIG_IGN); }  // writes to a closed peer fail instead

  util::Runtime runtime_{2};
  TunPair pair_;
};

TEST_P(TunDeviceTest, CarriesOneWholePacketPerReadAndWrite) {
  auto device = pair_.open(runtime_, GetParam());
  const std::vector<Bytes> packets = {sample_packet(1, 20), sample_packet(2, 1500), sample_packet(3, 1)};
  for (const Bytes& p : packets) pair_.write_frame(frame_of(p, GetParam()));
  for (const Bytes& p : packets) {
    auto received = runtime_.block_on(recv_packet(device, 1501));
    ASSERT_TRUE(received.has_value()) << received.error().message();
    EXPECT_EQ(*received, p);
  }
  for (const Bytes& p : packets) ASSERT_TRUE(runtime_.block_on(send_packet(device, p)).has_value());
  for (const Bytes& p : packets) EXPECT_EQ(pair_.read_frame(), frame_of(p, GetParam()));
}

TEST_P(TunDeviceTest, EmptyReadAndClosedPeerAreFailures) {
  auto device = pair_.open(runtime_, GetParam());
  pair_.write_frame({});
  auto received = runtime_.block_on(recv_packet(device, 100));
  ASSERT_FALSE(received.has_value());
  EXPECT_EQ(received.error(), asio::error::eof);
  pair_.close_peer();
  EXPECT_FALSE(runtime_.block_on(recv_packet(device, 100)).has_value());
  EXPECT_FALSE(runtime_.block_on(send_packet(device, sample_packet(1, 20))).has_value());
}

// Readers and writers share one device from several threads; every packet arrives once, whole.
TEST_P(TunDeviceTest, ConcurrentReadersAndWritersEachGetWholePackets) {
  constexpr int kTasks = 4;
  constexpr int kPacketsPerTask = 50;
  constexpr int kTotal = kTasks * kPacketsPerTask;
  util::Runtime runtime(4);
  auto device = pair_.open(runtime, GetParam());

  // The host side sends every packet straight back.
  std::thread echo([&] {
    for (int i = 0; i < kTotal; ++i) pair_.write_frame(pair_.read_frame());
  });

  auto read_all = [](std::shared_ptr<TunDevice> dev) -> asio::awaitable<std::vector<Bytes>> {
    std::vector<Bytes> got;
    for (int i = 0; i < kPacketsPerTask; ++i) {
      auto p = co_await recv_packet(dev, 300);
      if (!p) break;
      got.push_back(std::move(*p));
    }
    co_return got;
  };
  auto write_all = [](std::shared_ptr<TunDevice> dev, int task) -> asio::awaitable<int> {
    int sent = 0;
    for (int i = 0; i < kPacketsPerTask; ++i) {
      const auto tag = static_cast<std::uint8_t>(task * kPacketsPerTask + i);
      if ((co_await send_packet(dev, sample_packet(tag, 20 + static_cast<std::size_t>(tag)))).has_value()) ++sent;
    }
    co_return sent;
  };
  std::vector<std::future<std::vector<Bytes>>> readers;
  std::vector<std::future<int>> writers;
  for (int t = 0; t < kTasks; ++t) {
    readers.push_back(asio::co_spawn(asio::make_strand(runtime.executor()), read_all(device), asio::use_future));
    writers.push_back(asio::co_spawn(asio::make_strand(runtime.executor()), write_all(device, t), asio::use_future));
  }
  for (auto& w : writers) EXPECT_EQ(w.get(), kPacketsPerTask);
  std::vector<Bytes> received;
  for (auto& r : readers) {
    for (Bytes& p : r.get()) received.push_back(std::move(p));
  }
  echo.join();

  // Every packet has a length of its own: in order of length the packets received are the ones sent.
  std::vector<Bytes> expected;
  for (int tag = 0; tag < kTotal; ++tag) {
    expected.push_back(sample_packet(static_cast<std::uint8_t>(tag), 20 + static_cast<std::size_t>(tag)));
  }
  std::ranges::sort(received, {}, [](const Bytes& p) { return p.size(); });
  EXPECT_EQ(received, expected);
}

INSTANTIATE_TEST_SUITE_P(Framings, TunDeviceTest, ::testing::Values(TunFraming::Bare, TunFraming::ProtocolFamilyPrefix),
                         [](const auto& param_info) {
                           return param_info.param == TunFraming::Bare ? "Bare" : "ProtocolFamilyPrefix";
                         });

TEST(TunDeviceFraming, FrameShorterThanThePrefixIsSkipped) {
  util::Runtime runtime(1);
  TunPair pair;
  auto device = pair.open(runtime, TunFraming::ProtocolFamilyPrefix);
  pair.write_frame({0x00, 0x00});
  const Bytes packet = sample_packet(5, 20);
  pair.write_frame(frame_of(packet, TunFraming::ProtocolFamilyPrefix));
  auto received = runtime.block_on(recv_packet(device, 100));
  ASSERT_TRUE(received.has_value()) << received.error().message();
  EXPECT_EQ(*received, packet);
}

// A device already on the executor is itself there: a second registration of the descriptor
// would be woken by every packet too. On another executor it is a device over the same tunnel.
TEST(TunDeviceOpen, OnExecutorRegistersTheDescriptorOnlyWhereItIsNotYet) {
  util::Runtime runtime(1);
  TunPair pair;
  auto device = pair.open(runtime, TunFraming::Bare);
  EXPECT_EQ(device->on_executor(runtime.executor()).value(), device);
  auto on_lane = device->on_executor(runtime.lane(0)).value();
  ASSERT_NE(on_lane, device);
  const Bytes packet = sample_packet(7, 30);
  pair.write_frame(packet);
  auto received = runtime.block_on(recv_packet(on_lane, 100));
  ASSERT_TRUE(received.has_value()) << received.error().message();
  EXPECT_EQ(*received, packet);
}

TEST(TunDeviceOpen, RefusesBadDescriptors) {
  util::Runtime runtime(1);
  const int closed_fd = [] {
    const int fd = dup(STDIN_FILENO);
    close(fd);
    return fd;
  }();
  for (const int fd : {-1, closed_fd}) {
    EXPECT_FALSE(TunDevice::from_fd(runtime.executor(), fd, TunFraming::Bare).has_value()) << fd;
  }
}

// A descriptor the host might hand over: a TUN or TAP opened with `flags` (and `name`, where not
// empty); -1 where this process may make none (no /dev/net/tun, not root).
int open_tun(short flags, const std::string& name = {}) {
  const int fd = open("/dev/net/tun", O_RDWR | O_CLOEXEC);
  if (fd < 0) return -1;
  ifreq request{};
  request.ifr_flags = flags;
  name.copy(request.ifr_name, sizeof request.ifr_name - 1);
  if (ioctl(fd, TUNSETIFF, &request) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// What a row holds until it ends: descriptors (a network namespace, another interface), and a
// capability it has given up on this thread.
class Held {
 public:
  Held() = default;
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  ~Held() {
    for (const int fd : fds_) close(fd);
    if (gave_up_) syscall(SYS_capset, &header_, capabilities_.data());
  }
  int keep(int fd) {
    if (fd >= 0) fds_.push_back(fd);
    return fd;
  }
  // Clears `capability` from this thread's effective set, and so from the threads it starts.
  bool give_up(unsigned capability) {
    if (syscall(SYS_capget, &header_, capabilities_.data()) != 0) return false;
    auto fewer = capabilities_;
    fewer[capability / 32].effective &= ~(1U << (capability % 32));
    gave_up_ = syscall(SYS_capset, &header_, fewer.data()) == 0;
    return gave_up_;
  }

 private:
  std::vector<int> fds_;
  __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
  std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> capabilities_{};
  bool gave_up_ = false;
};

// `fd`, whose interface is `name`, after the interface has moved to a new network namespace (as
// examples/linux_host moves its own); -1 where it cannot move.
int moved_away(int fd, const std::string& name, Held& held) {
  int ns = -1;
  std::thread([&] {
    if (unshare(CLONE_NEWNET) == 0) ns = held.keep(open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC));
  }).join();
  const std::string move = fmt::format("ip link set dev {} netns /proc/{}/fd/{}", name, getpid(), ns);
  return fd >= 0 && ns >= 0 && std::system(move.c_str()) == 0 ? fd : -1;
}

// A descriptor the kernel reports as no TUN opened with IFF_TUN | IFF_NO_PI is named in a WARN:
// what the device reads from it is dropped later without a line of its own. The mode is read in
// the interface's own network namespace, not from an interface of its name in the process's.
TEST(TunDeviceOpen, WarnsOfADescriptorThatIsNoBareTun) {
  struct Row {
    const char* name;
    std::function<int(Held&)> open;
    std::string is;  // what the WARN says the descriptor is; empty: no WARN
  };
  const std::string name = fmt::format("vt{}", getpid());
  const std::vector<Row> rows = {
      {"TUN", [](Held& held) { return held.keep(open_tun(IFF_TUN | IFF_NO_PI)); }, ""},
      {"TUN without IFF_NO_PI", [](Held& held) { return held.keep(open_tun(IFF_TUN)); },
       "a TUN interface opened without IFF_NO_PI"},
      {"TAP", [](Held& held) { return held.keep(open_tun(IFF_TAP | IFF_NO_PI)); }, "a TAP interface (IFF_TAP)"},
      {"/dev/null", [](Held& held) { return held.keep(open("/dev/null", O_RDWR | O_CLOEXEC)); },
       "no TUN interface (TUNGETIFF: Inappropriate ioctl for device)"},
      {"TUN without IFF_NO_PI moved away",
       [&](Held& held) { return moved_away(held.keep(open_tun(IFF_TUN, name)), name, held); },
       "a TUN interface opened without IFF_NO_PI"},
      {"TUN moved away from one of its name without IFF_NO_PI",
       [&](Held& held) {
         const int fd = moved_away(held.keep(open_tun(IFF_TUN | IFF_NO_PI, name)), name, held);
         return held.keep(open_tun(IFF_TUN, name)) >= 0 ? fd : -1;
       },
       ""},
      {"TUN moved away where its namespace may not be entered",
       [&](Held& held) {
         const int fd = moved_away(held.keep(open_tun(IFF_TUN | IFF_NO_PI, name)), name, held);
         return held.give_up(CAP_SYS_ADMIN) ? fd : -1;
       },
       ""},
  };
  util::Runtime runtime(1);
  std::string skipped;
  for (const Row& row : rows) {
    Held held;
    const int opened = row.open(held);
    const int fd = opened >= 0 ? dup(opened) : -1;  // the device's; the row's own closes with `held`
    if (fd < 0) {
      skipped += std::string(" ") + row.name;
      continue;
    }
    testing::LogCapture capture;
    auto device = TunDevice::from_fd(runtime.executor(), fd, TunFraming::Bare).value();
    device->warn_unless_bare_tun();
    std::vector<std::string> expected;
    if (!row.is.empty()) {
      expected.push_back(
          fmt::format("Tunnel descriptor {} is {}; the agent expects a TUN opened with IFF_TUN | "
                      "IFF_NO_PI and drops what it reads that is not a bare IPv4 packet",
                      fd, row.is));
    }
    EXPECT_EQ(capture.texts(log::Level::warn), expected) << row.name;
  }
  if (!skipped.empty()) GTEST_SKIP() << "no such descriptor here:" << skipped;
}

}  // namespace
}  // namespace valdori::platform
