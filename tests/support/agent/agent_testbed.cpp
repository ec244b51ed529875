#include "tests/support/agent/agent_testbed.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <array>
#include <stdexcept>
#include <string>
#include <thread>

#include "agent/agent/netif/tun_runner.hpp"
#include "util/log/log.hpp"

namespace valdori::agent::testing {
namespace {

template <class Result>
auto must(Result&& result, const char* what) {
  if (!result) throw std::runtime_error(std::string("test setup failed: ") + what);
  return *std::forward<Result>(result);
}

}  // namespace

p2p::Identity test_identity() { return must(p2p::Identity::generate(kTestDifficulty), "identity"); }

TunPair::TunPair(const boost::asio::any_io_executor& executor) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) throw std::runtime_error("socketpair");
  kernel_fd_ = fds[1];
  // Where the host's device is made, so that the agents under test read it as they do there.
  device_ = must(platform::TunDevice::from_fd(netif::tun_device_executor(executor), fds[0], platform::TunFraming::Bare),
                 "tun device");
}

TunPair::~TunPair() { close_kernel_side(); }

void TunPair::close_kernel_side() {
  if (kernel_fd_ >= 0) ::close(kernel_fd_);
  kernel_fd_ = -1;
}

void TunPair::inject(std::span<const std::uint8_t> packet) {
  if (::send(kernel_fd_, packet.data(), packet.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(packet.size())) {
    throw std::runtime_error("inject: send failed");
  }
}

std::optional<Bytes> TunPair::receive(std::chrono::milliseconds timeout) {
  pollfd pfd{kernel_fd_, POLLIN, 0};
  if (::poll(&pfd, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
  Bytes buffer(65536);
  const ssize_t n = ::recv(kernel_fd_, buffer.data(), buffer.size(), 0);
  if (n <= 0) return std::nullopt;
  buffer.resize(static_cast<std::size_t>(n));
  return buffer;
}

void NetworkChangeLog::record(NetworkChange change) {
  const std::lock_guard lock(mutex_);
  changes_.push_back(std::move(change));
}

std::vector<NetworkChange> NetworkChangeLog::all() const {
  const std::lock_guard lock(mutex_);
  return changes_;
}

std::optional<NetworkChange> NetworkChangeLog::last() const {
  const std::lock_guard lock(mutex_);
  if (changes_.empty()) return std::nullopt;
  return changes_.back();
}

PlatformDependent reporting_to(std::shared_ptr<NetworkChangeLog> log, std::shared_ptr<platform::TunDevice> tun) {
  return {std::move(tun), [log = std::move(log)](NetworkChange change) { log->record(std::move(change)); }};
}

AgentTestbed::AgentTestbed() : runtime_(4) {
  // The tests log at every level into a capture; the console would drown in it.
  log::remove_console_sink();
  const std::pair<const char*, const char*> settings[] = {
      {"VALDORI_UDP_ADDRS", "127.0.0.1"},       {"VALDORI_UDP_PORT", "0"},         {"VALDORI_MIN_POW_DIFFICULTY", "4"},
      {"VALDORI_HOUSEKEEPING_INTERVAL", "100"}, {"VALDORI_HELLO_TIMEOUT", "1000"}, {"VALDORI_UDP_SOCKETS", "1"},
  };
  for (const auto& [name, value] : settings) env_.push_back(std::make_unique<valdori::testing::EnvGuard>(name, value));
  super_peer::SuperPeerOptions options;
  options.network_id = kNetworkId;
  options.min_pow_difficulty = kTestDifficulty;
  super_peer_ = must(super_peer::SuperPeer::start(runtime_.executor(), test_identity(), options), "super peer");
}

AgentTestbed::~AgentTestbed() {
  super_peer_.reset();
  runtime_.shutdown();
}

AgentConfig AgentTestbed::config(std::optional<p2p::Identity> identity) const {
  AgentConfig config(identity ? std::move(*identity) : test_identity());
  config.super_peers = std::vector<p2p::SuperPeerUrl>{super_peer_url()};
  return config;
}

std::shared_ptr<AgentInner> AgentTestbed::make_inner(AgentConfig config, PlatformDependent platform,
                                                     std::filesystem::path config_path) {
  auto created = runtime_.block_on(
      AgentInner::create(runtime_.executor(), std::move(config), std::move(config_path), std::move(platform)));
  return must(std::move(created), "agent core");
}

}  // namespace valdori::agent::testing
