// The mutable state of a running agent. It is reached only under the agent's state lock: the
// housekeeping pass and shutdown write it, the status report and the metrics read it.
#pragma once

#include <boost/system/result.hpp>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "agent/agent/config.hpp"
#include "agent/agent/error.hpp"
#include "agent/agent/network_listener/network_change.hpp"
#include "util/runtime/notify.hpp"
#include "util/runtime/task_handle.hpp"

namespace valdori::agent {

// The outcome of a sign-in through the controller's authorization server. Only the first kind
// occurs in this system: nothing signs in.
struct LoginStatus {
  struct Pending {
    bool operator==(const Pending&) const = default;
  };
  struct Expired {
    std::string message;
    bool operator==(const Expired&) const = default;
  };
  struct AccessDenied {
    std::string message;
    bool operator==(const AccessDenied&) const = default;
  };
  struct Error {
    std::string message;
    bool operator==(const Error&) const = default;
  };
  struct Success {
    std::string message;
    bool operator==(const Success&) const = default;
  };

  std::variant<Pending, Expired, AccessDenied, Error, Success> kind;

  bool operator==(const LoginStatus&) const = default;
};

// A sign-in in progress: its status, the notification that tells waiters the status changed, and
// the task that runs it. Nothing here starts one, so a running agent holds the first status, a
// notification nobody waits on and no task.
struct LoginState {
  LoginStatus status;
  std::shared_ptr<util::Notify> changed = std::make_shared<util::Notify>();
  std::optional<util::TaskHandle> task;
};

struct State {
  AgentConfig config;  // the running agent's own copy, with every network's states
  std::optional<std::string> available_update;
  std::optional<std::string> ui_version;
  std::optional<NetworkChange> last_network_change;  // the last record the host was given
  LoginState login;
  std::optional<std::chrono::milliseconds> time_deviation;  // the measured clock deviation

  explicit State(AgentConfig cfg) : config(std::move(cfg)) {}

  // Writes `config` to `path`; the caller holds the state lock.
  boost::system::result<void, error::Error> save_config(const std::filesystem::path& path) const {
    return config.save(path);
  }
};

}  // namespace valdori::agent
