#include "agent/agent/housekeeping/send_metrics.hpp"

#include "agent/agent/housekeeping/controller_networks.hpp"
#include "agent/agent/housekeeping/housekeeping_log.hpp"
#include "agent/agent/metrics/metrics_request.hpp"
#include "agent/controller/client.hpp"
#include "util/overloaded.hpp"
#include "util/url/mask_url.hpp"

namespace valdori::agent::housekeeping {

namespace asio = boost::asio;
using network::NetworkHealth;

std::optional<std::string> error_log_text(const NetworkMap& networks) {
  std::optional<std::string> text;
  for (const auto& [url, joined] : networks) {
    if (!is_controller_network(url)) continue;
    const std::optional<std::string> state = std::visit(
        util::Overloaded{
            [](const NetworkHealth::Pending&) -> std::optional<std::string> { return ": Pending"; },
            [](const NetworkHealth::RetrieveConfigError& e) -> std::optional<std::string> {
              return ": RetrieveConfigError - " + e.message;
            },
            [](const NetworkHealth::NotAMemberError&) -> std::optional<std::string> { return ": NotAMemberError"; },
            [](const auto&) -> std::optional<std::string> { return std::nullopt; },
        },
        joined.health.kind);
    if (!state) continue;
    text = text ? *text + "\n" : std::string();
    *text += "Network " + util::mask_url(url) + *state;
  }
  return text;
}

asio::awaitable<void> send_metrics(std::shared_ptr<AgentInner> inner, std::string shared_secret,
                                   std::optional<std::string> ui_version) {
  std::string base_url;
  {
    auto guard = co_await inner->state_lock.read();
    const auto& controller = inner->state.config.controller;
    base_url = controller ? controller->url_or_default() : ControllerConfig{}.url_or_default();
  }
  std::optional<std::string> error_logs;
  {
    auto guard = co_await inner->state_lock.read();
    error_logs = error_log_text(inner->state.config.networks);
  }
  const auto request =
      co_await metrics::build_metrics_request(*inner->processes, std::move(ui_version), std::move(error_logs));
  const controller::ControllerClient client(inner->http, std::move(base_url),
                                            controller::Hmac{std::move(shared_secret)}, inner->identity.pk(),
                                            inner->limits.controller_request);
  VLOG_TRACE(housekeeping_logger(), "Sending metrics to controller: {}", controller::models::debug_text(request));
  const auto uploaded = co_await client.upload_metrics(controller::models::to_json(request));
  if (uploaded) {
    VLOG_TRACE(housekeeping_logger(), "Metrics uploaded successfully");
  } else {
    VLOG_WARN(housekeeping_logger(), "Metrics upload failed: {}", uploaded.error());
  }
}

}  // namespace valdori::agent::housekeeping
