#include "agent/agent/housekeeping/controller_network_list.hpp"

#include "agent/agent/housekeeping/housekeeping_log.hpp"

namespace valdori::agent::housekeeping {
namespace {

namespace asio = boost::asio;

// Kept only in a configuration that has a controller section; without one it stays as loaded.
asio::awaitable<void> record_connection_status(const std::shared_ptr<AgentInner>& inner,
                                               const ControllerConnectionStatus& status) {
  auto guard = co_await inner->state_lock.write();
  if (auto& controller = inner->state.config.controller) controller->connection_status = status;
}

}  // namespace

asio::awaitable<std::optional<std::string>> copy_shared_secret(std::shared_ptr<AgentInner> inner) {
  auto guard = co_await inner->state_lock.read();
  std::optional<std::string> secret;
  if (const auto& controller = inner->state.config.controller) secret = controller->shared_secret;
  co_return secret;
}

asio::awaitable<std::optional<ControllerNetworks>> controller_network_list(std::shared_ptr<AgentInner> inner,
                                                                           std::optional<std::string> secret) {
  std::optional<ControllerNetworks> listed;
  if (!secret) {
    // Named: GCC 12 destroys temporaries of a co_await expression twice.
    const ControllerConnectionStatus logged_out{ControllerConnectionStatus::LoggedOut{}};
    co_await record_connection_status(inner, logged_out);
    listed.emplace();
    co_return listed;
  }
  // This build has no controller client, so a configured controller cannot be asked.
  const error::Error failed(error::Kind::HttpClient,
                            "fetching the network list from the controller is not available in this build");
  VLOG_TRACE(housekeeping_logger(), "Failed to get controller networks: {}, continuing with empty list", failed);
  const ControllerConnectionStatus fetch_failed{ControllerConnectionStatus::Err{failed.to_string()}};
  co_await record_connection_status(inner, fetch_failed);
  co_return listed;
}

}  // namespace valdori::agent::housekeeping
