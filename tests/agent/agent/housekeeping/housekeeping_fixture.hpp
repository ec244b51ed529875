// An agent core with no task started, whose network-change callback records what it is given,
// in a temporary folder that holds its configuration file and the network documents of a test.
#pragma once

#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent/agent/inner/agent_inner.hpp"
#include "tests/support/agent/agent_testbed.hpp"
#include "tests/support/log_capture.hpp"
#include "tests/support/temp_dir.hpp"

namespace valdori::agent::housekeeping::testing {

using network::AgentState;
using network::Network;
using network::NetworkHealth;
using util::net::Ipv4Net;

inline const std::string kTarget = "valdori_agent::agent::housekeeping";
inline const std::string kControllerUrl = "controller://0b6f1c2e-8a61-4bde-9c1a-2f2b8e1f3a44";
inline const std::string kPeerKey(64, 'b');

inline Ipv4Net net(const char* text) { return *Ipv4Net::parse(text); }

// Every record the host was given, in order.
class ChangeRecorder {
 public:
  PlatformDependent platform() {
    return {nullptr, [this](NetworkChange change) {
              std::lock_guard lock(mutex_);
              changes_.push_back(std::move(change));
            }};
  }
  std::vector<NetworkChange> changes() const {
    std::lock_guard lock(mutex_);
    return changes_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<NetworkChange> changes_;
};

// The network 10.44.0.0/24: this node at .1 when `member`, a peer at .2 that is the gateway to
// 192.168.50.0/24, and a policy that lets every node talk to every other.
inline std::string network_document(const p2p::PubKey& me, bool member, const std::optional<std::string>& name) {
  std::string text;
  if (name) text += "name = \"" + *name + "\"\n";
  text += "network = \"10.44.0.0/24\"\n";
  if (member) text += "[[node]]\npk = \"" + me.to_string() + "\"\nip = \"10.44.0.1\"\nhostname = \"me\"\n";
  text += "[[node]]\npk = \"" + kPeerKey + "\"\nip = \"10.44.0.2\"\nhostname = \"peer\"\n";
  text += "[[route]]\ndest = \"192.168.50.0/24\"\ngw = \"" + kPeerKey + "\"\n";
  text += "[[policy]]\nsource_groups = [\"ALL\"]\ndestination_groups = [\"ALL\"]\n";
  return text;
}

// A state that no document of these tests produces, to tell a kept desired state from a new one.
inline AgentState sentinel_state() {
  AgentState state;
  state.ip.applied = net("10.9.9.9/24");
  return state;
}

class HousekeepingTest : public ::testing::Test {
 public:
  HousekeepingTest() : config_(bed_.config()), me_(config_.identity.pk()) {}

  // The configuration the next inner() starts from.
  AgentConfig& config() { return config_; }
  const p2p::PubKey& me() const { return me_; }
  std::filesystem::path config_path() const { return dir_ / "agent.toml"; }
  const std::filesystem::path& dir() const { return dir_.path(); }
  valdori::testing::LogCapture& logs() { return logs_; }
  std::vector<NetworkChange> changes() const { return recorder_.changes(); }

  // Joins a network in the configuration the next inner() starts from.
  Network& join(const std::string& config_url, bool disabled = false, std::optional<std::string> name = {}) {
    Network joined;
    joined.config_url = config_url;
    joined.disabled = disabled;
    joined.name = std::move(name);
    return config_.networks.insert_or_assign(*util::Url::parse(config_url), std::move(joined)).first->second;
  }

  // Writes a file in the temporary folder; its "file://" URL with the absolute path.
  std::string write_file(const std::string& file_name, const std::string& text) {
    std::ofstream(dir_ / file_name, std::ios::binary) << text;
    return "file://" + (dir_ / file_name).string();
  }

  std::shared_ptr<AgentInner> inner() { return bed_.make_inner(config_.clone(), recorder_.platform(), config_path()); }

  void run_pass(const std::shared_ptr<AgentInner>& inner) { bed_.runtime().block_on(AgentInner::housekeeping(inner)); }

  template <class T>
  T block_on(boost::asio::awaitable<T> task) {
    return bed_.runtime().block_on(std::move(task));
  }

  boost::asio::any_io_executor executor() { return bed_.executor(); }

  // No task runs between passes, so the state is read without its lock.
  static Network& network(const std::shared_ptr<AgentInner>& inner, const std::string& config_url) {
    return inner->state.config.networks.at(*util::Url::parse(config_url));
  }
  static bool joined(const std::shared_ptr<AgentInner>& inner, const std::string& config_url) {
    return inner->state.config.networks.contains(*util::Url::parse(config_url));
  }

  // The texts this module logged at `level`.
  std::vector<std::string> lines(log::Level level) const {
    std::vector<std::string> texts;
    for (const auto& event : logs_.events()) {
      if (event.target == kTarget && event.level == level) texts.push_back(event.text);
    }
    return texts;
  }
  // Whether this module logged a line at `level` that starts with `text`.
  bool logged(log::Level level, const std::string& text) const {
    for (const auto& line : lines(level)) {
      if (line.starts_with(text)) return true;
    }
    return false;
  }

 private:
  agent::testing::AgentTestbed bed_;
  valdori::testing::LogCapture logs_;
  valdori::testing::TempDir dir_;
  ChangeRecorder recorder_;
  AgentConfig config_;
  p2p::PubKey me_;
};

}  // namespace valdori::agent::housekeeping::testing
