// The metrics record the agent uploads after each housekeeping pass.
#pragma once

#include <optional>
#include <string>

#include <boost/asio/awaitable.hpp>

#include "agent/controller/models.hpp"
#include "platform/process/process_runner.hpp"

namespace valdori::agent::metrics {

// The device's operating system, version and architecture, its interface addresses and this
// agent's version, with the host's UI version and the pass's error lines as given. Never fails:
// a fact that cannot be learnt keeps its fallback.
boost::asio::awaitable<controller::models::UpdateNodeMetricsRequest> build_metrics_request(
    platform::ProcessRunner& runner, std::optional<std::string> ui_version, std::optional<std::string> error_logs);

}  // namespace valdori::agent::metrics
