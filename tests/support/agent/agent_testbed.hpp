// A bench for agent tests: a runtime, an in-process super peer on loopback, the environment
// that makes agents bind on loopback with quick timers, agent cores built as Agent::start
// builds them, and tunnel devices over socket pairs whose other end the test drives as the
// host's kernel would.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "agent/agent/agent.hpp"
#include "agent/agent/inner/agent_inner.hpp"
#include "agent/agent/network_listener/network_change.hpp"
#include "platform/tun/tun_device.hpp"
#include "tests/support/env_guard.hpp"
#include "tests/support/wait_until.hpp"
#include "tools/super_peer/server/super_peer.hpp"
#include "util/runtime/runtime.hpp"

namespace valdori::agent::testing {

using Bytes = std::vector<std::uint8_t>;

// Low, so that identities are found at once; the super peer and the agents ask for the same.
inline constexpr std::uint8_t kTestDifficulty = 4;
inline constexpr std::uint32_t kNetworkId = 7;

p2p::Identity test_identity();

using valdori::testing::kWaitLimit;
using valdori::testing::wait_until;

// A SOCK_SEQPACKET socket pair standing in for a tunnel interface: `device` is what the agent
// gets, the other end is the kernel's side, where the test writes the packets applications
// send and reads the packets the agent delivers.
class TunPair {
 public:
  explicit TunPair(const boost::asio::any_io_executor& executor);
  ~TunPair();
  TunPair(const TunPair&) = delete;
  TunPair& operator=(const TunPair&) = delete;

  const std::shared_ptr<platform::TunDevice>& device() const { return device_; }
  // Sends one packet towards the agent.
  void inject(std::span<const std::uint8_t> packet);
  // The next packet the agent wrote; none when nothing came within `timeout`.
  std::optional<Bytes> receive(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
  // Closes the kernel's side: the agent's next read fails.
  void close_kernel_side();

 private:
  std::shared_ptr<platform::TunDevice> device_;
  int kernel_fd_ = -1;
};

// Every record a host callback was given, in order.
class NetworkChangeLog {
 public:
  void record(NetworkChange change);
  std::vector<NetworkChange> all() const;
  // The latest record, when there is one.
  std::optional<NetworkChange> last() const;

 private:
  mutable std::mutex mutex_;
  std::vector<NetworkChange> changes_;
};

// A host that records its network changes in `log`, over `tun` if given.
PlatformDependent reporting_to(std::shared_ptr<NetworkChangeLog> log,
                               std::shared_ptr<platform::TunDevice> tun = nullptr);

class AgentTestbed {
 public:
  AgentTestbed();
  ~AgentTestbed();

  util::Runtime& runtime() { return runtime_; }
  boost::asio::any_io_executor executor() { return runtime_.executor(); }
  const p2p::SuperPeerUrl& super_peer_url() const { return super_peer_->url(); }

  // A configuration with `identity` (a fresh one when absent) and the testbed's super peer.
  AgentConfig config(std::optional<p2p::Identity> identity = std::nullopt) const;

  // A core as Agent::start builds it (the node bound on loopback), with no agent task started.
  std::shared_ptr<AgentInner> make_inner(AgentConfig config, PlatformDependent platform = {},
                                         std::filesystem::path config_path = {});
  // A started agent.
  Agent start(AgentConfig config, PlatformDependent platform = {}, std::filesystem::path config_path = {});

 private:
  std::vector<std::unique_ptr<valdori::testing::EnvGuard>> env_;
  util::Runtime runtime_;
  std::unique_ptr<super_peer::SuperPeer> super_peer_;
};

}  // namespace valdori::agent::testing
